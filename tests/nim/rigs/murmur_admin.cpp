#include "tests/nim/rigs/murmur_admin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <functional>
#include <map>

#include "tests/nim/rigs/voice_wire.h"

namespace qmtest {

namespace vw = voicewire;
using Clock = std::chrono::steady_clock;

namespace {

// A SuperUser session: logged in, with the channels and users it was told of.
class Session {
public:
    ~Session() {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        if (ctx_) SSL_CTX_free(ctx_);
        if (fd_ >= 0) ::close(fd_);
        ERR_clear_error();
    }

    bool Open(int port, const std::string& password, Clock::time_point deadline) {
        deadline_ = deadline;
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{0, 200000};  // reads wake up to look at the deadline
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ctx_ = SSL_CTX_new(TLS_client_method());  // loopback test server: its certificate is not checked
        if (!ctx_ || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        ssl_ = SSL_new(ctx_);
        SSL_set_fd(ssl_, fd_);
        while (SSL_connect(ssl_) != 1) {
            if (Clock::now() > deadline_ || SSL_get_error(ssl_, -1) != SSL_ERROR_WANT_READ) return false;
        }
        Send(vw::kVersion, vw::VersionMsg());
        Send(vw::kAuthenticate, vw::Message().Bytes(1, "SuperUser").Bytes(2, password).Bool(5, true).data());
        return WaitFor(vw::kServerSync);
    }

    void Send(std::uint16_t type, const std::string& payload) {
        std::string frame = vw::Frame(type, payload);
        SSL_write(ssl_, frame.data(), static_cast<int>(frame.size()));
    }

    // Reads frames, keeping the roster, until one of `type` for which `match` holds.
    bool WaitFor(std::uint16_t type, const std::function<bool(const vw::Fields&)>& match = nullptr) {
        for (;;) {
            while (buffer_.size() >= 6) {
                auto b = [&](size_t i) { return static_cast<std::uint8_t>(buffer_[i]); };
                std::uint16_t t = static_cast<std::uint16_t>(b(0) << 8 | b(1));
                std::uint32_t length = std::uint32_t{b(2)} << 24 | std::uint32_t{b(3)} << 16 | std::uint32_t{b(4)} << 8 | b(5);
                if (buffer_.size() < 6 + length) break;
                std::string payload = buffer_.substr(6, length);
                buffer_.erase(0, 6 + length);
                auto fields = vw::Parse(payload);
                if (!fields) continue;
                Learn(t, *fields);
                if (t == vw::kReject) return false;
                if (t == type && (!match || match(*fields))) return true;
            }
            if (Clock::now() > deadline_) return false;
            char buf[16384];
            int n = SSL_read(ssl_, buf, sizeof buf);
            if (n > 0) {
                buffer_.append(buf, static_cast<size_t>(n));
            } else if (SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ) {
                return false;
            }
        }
    }

    std::optional<std::uint32_t> Channel(const std::string& name) const {
        if (name.empty()) return 0u;
        for (const auto& [id, n] : channels_)
            if (n == name && id != 0) return id;
        return std::nullopt;
    }
    std::optional<std::uint32_t> User(const std::string& name) const {
        for (const auto& [session, n] : users_)
            if (n == name) return session;
        return std::nullopt;
    }

private:
    void Learn(std::uint16_t type, const vw::Fields& f) {
        if (type == vw::kChannelState && f.Number(1) && f.String(3))
            channels_[static_cast<std::uint32_t>(*f.Number(1))] = *f.String(3);
        if (type == vw::kUserState && f.Number(1) && f.String(3))
            users_[static_cast<std::uint32_t>(*f.Number(1))] = *f.String(3);
    }

    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    Clock::time_point deadline_;
    std::string buffer_;
    std::map<std::uint32_t, std::string> channels_, users_;
};

}  // namespace

std::optional<std::uint32_t> MurmurAdmin::MakeChannel(const std::string& name, std::chrono::milliseconds timeout) {
    Session s;
    if (!s.Open(port_, password_, Clock::now() + timeout)) return std::nullopt;
    if (auto id = s.Channel(name)) return id;
    s.Send(vw::kChannelState, vw::Message().Uint(2, 0).Bytes(3, name).data());
    if (!s.WaitFor(vw::kChannelState, [&](const vw::Fields& f) { return f.String(3) == name; })) return std::nullopt;
    return s.Channel(name);
}

bool MurmurAdmin::Move(const std::string& user, const std::string& channel, std::chrono::milliseconds timeout) {
    Session s;
    if (!s.Open(port_, password_, Clock::now() + timeout)) return false;
    auto session = s.User(user);
    auto target = s.Channel(channel);
    if (!session || !target) return false;
    s.Send(vw::kUserState, vw::Message().Uint(1, *session).Uint(5, *target).data());
    return s.WaitFor(vw::kUserState, [&](const vw::Fields& f) {
        return f.Number(1) == *session && f.Number(5) == *target;
    });
}

}  // namespace qmtest
