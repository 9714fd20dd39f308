#include "outside/qm_nim/net/tls_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "outside/qm_nim/net/client_identity.h"

namespace qmnim::net {
namespace {

// What the verification callback needs: the pin and where to say why it refused.
struct VerifyState {
    std::string pin;
    std::string refusal;
    std::string seen;  // SHA-256 of the server's own certificate
};

int VerifyState_Index() {
    static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int VerifyCallback(int preverified, X509_STORE_CTX* store) {
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* state = ssl ? static_cast<VerifyState*>(SSL_get_ex_data(ssl, VerifyState_Index())) : nullptr;
    if (!state) return 0;
    int depth = X509_STORE_CTX_get_error_depth(store);
    if (state->pin.empty()) {
        if (!preverified && state->refusal.empty()) {
            state->refusal = std::string("certificate not trusted: ") +
                             X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        }
        return preverified;
    }
    // Pinned: the chain does not matter, only the server's own certificate.
    if (depth > 0) return 1;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        state->refusal = "certificate unreadable";
        return 0;
    }
    std::string seen(reinterpret_cast<const char*>(digest), length);
    state->seen = seen;
    if (seen.size() != state->pin.size() || CRYPTO_memcmp(seen.data(), state->pin.data(), seen.size()) != 0) {
        state->refusal = "certificate fingerprint " + Hex(seen) + " does not match the pinned " + Hex(state->pin);
        return 0;
    }
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

std::string SslError() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (!e) return "connection closed";
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

bool IsAddress(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

TlsLink::~TlsLink() { Close(); }

void TlsLink::Close() {
    if (!out_.empty()) OPENSSL_cleanse(out_.data(), out_.size());
    out_.clear();
    outSent_ = 0;
    if (ssl_) {
        VerifyState* state = static_cast<VerifyState*>(SSL_get_ex_data(ssl_, VerifyState_Index()));
        SSL_free(ssl_);  // no close_notify: a dead peer must not stall us
        delete state;
        ssl_ = nullptr;
    }
    if (ctx_) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    readWantsWrite_ = writeWantsRead_ = false;
}

bool TlsLink::WaitFor(short events, Clock::time_point deadline, int wakeFd, const std::function<bool()>& cancelled,
                      Result& result) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result = Result::TimedOut;
            return false;
        }
        pollfd fds[2] = {{fd_, events, 0}, {wakeFd, POLLIN, 0}};
        int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR) {
            result = Result::Failed;
            return false;
        }
        if (wakeFd >= 0 && (fds[1].revents & POLLIN) && cancelled && cancelled()) {
            result = Result::Cancelled;
            return false;
        }
        if (n > 0 && fds[0].revents) return true;
    }
}

TlsLink::Result TlsLink::Connect(const ServerEndpoint& server, const ClientIdentity* identity,
                                 Clock::time_point deadline, int wakeFd, const std::function<bool()>& cancelled,
                                 std::string& error) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    std::string port = std::to_string(server.port);
    int rc = getaddrinfo(server.host.c_str(), port.c_str(), &hints, &addresses);
    if (rc != 0) {
        error = "cannot resolve " + server.host + ": " + gai_strerror(rc);
        return Result::Failed;
    }
    Result result = Result::Failed;
    error = "cannot connect to " + server.host + ":" + port;
    for (addrinfo* a = addresses; a && fd_ < 0; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        fd_ = fd;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            error += std::string(": ") + std::strerror(errno);
            ::close(fd);
            fd_ = -1;
            continue;
        }
        if (!WaitFor(POLLOUT, deadline, wakeFd, cancelled, result)) {
            ::close(fd);
            fd_ = -1;
            break;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            error += std::string(": ") + std::strerror(soError);
            result = Result::Failed;
            ::close(fd);
            fd_ = -1;
        }
    }
    freeaddrinfo(addresses);
    if (fd_ < 0) {
        if (result == Result::TimedOut) error = "no answer from " + server.host + ":" + port;
        return result;
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // voice frames go out at once

    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) {
        error = "TLS unavailable: " + SslError();
        Close();
        return Result::Failed;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, VerifyCallback);
    if (server.pin.empty()) SSL_CTX_set_default_verify_paths(ctx_);
    ssl_ = SSL_new(ctx_);
    auto* state = new VerifyState{server.pin, {}, {}};
    if (!ssl_ || SSL_set_ex_data(ssl_, VerifyState_Index(), state) != 1) {
        delete state;
        error = "TLS unavailable: " + SslError();
        Close();
        return Result::Failed;
    }
    if (server.pin.empty()) {
        if (IsAddress(server.host)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), server.host.c_str());
        } else {
            SSL_set1_host(ssl_, server.host.c_str());
        }
    }
    if (!IsAddress(server.host)) SSL_set_tlsext_host_name(ssl_, server.host.c_str());
    if (identity) {
        SSL_use_certificate(ssl_, identity->certificate());
        SSL_use_PrivateKey(ssl_, identity->key());
    }
    SSL_set_fd(ssl_, fd_);
    for (;;) {
        int r = SSL_connect(ssl_);
        if (r == 1) break;
        int why = SSL_get_error(ssl_, r);
        if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) {
            if (!WaitFor(why == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, wakeFd, cancelled, result)) {
                error = result == Result::TimedOut ? "no TLS answer from " + server.host + ":" + port
                                                   : "connecting cancelled";
                Close();
                return result;
            }
            continue;
        }
        bool refused = !state->refusal.empty();
        peerSha256_ = state->seen;
        error = refused ? state->refusal : "TLS handshake with " + server.host + ":" + port + " failed: " + SslError();
        ERR_clear_error();
        Close();
        return refused ? Result::Refused : Result::Failed;
    }
    error.clear();
    return Result::Ok;
}

void TlsLink::Send(proto::MessageType type, std::string_view payload) {
    if (!ssl_) return;
    if (outSent_ > 0 && outSent_ == out_.size()) {
        out_.clear();
        outSent_ = 0;
    }
    out_ += proto::FrameHeader(type, payload.size());
    out_.append(payload.data(), payload.size());
}

size_t TlsLink::backlogBytes() const {
    int inKernel = 0;
    if (fd_ < 0 || ::ioctl(fd_, SIOCOUTQ, &inKernel) != 0 || inKernel < 0) inKernel = 0;
    return queuedBytes() + static_cast<size_t>(inKernel);
}

bool TlsLink::stalled() const {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd_ < 0 || ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
    return info.tcpi_retransmits > 0 || info.tcpi_backoff > 0;
}

bool TlsLink::WantsWrite() const { return ssl_ && (queuedBytes() > 0 || readWantsWrite_); }

bool TlsLink::Flush() {
    if (!ssl_) return false;
    while (outSent_ < out_.size()) {
        size_t chunk = std::min<size_t>(out_.size() - outSent_, 1 << 20);
        int n = SSL_write(ssl_, out_.data() + outSent_, static_cast<int>(chunk));
        if (n > 0) {
            outSent_ += static_cast<size_t>(n);
            continue;
        }
        int why = SSL_get_error(ssl_, n);
        writeWantsRead_ = why == SSL_ERROR_WANT_READ;
        if (why == SSL_ERROR_WANT_WRITE || why == SSL_ERROR_WANT_READ) return true;
        ERR_clear_error();
        return false;
    }
    // Sent bytes may hold a password: overwrite them before the buffer is reused.
    OPENSSL_cleanse(out_.data(), out_.size());
    out_.clear();
    outSent_ = 0;
    writeWantsRead_ = false;
    return true;
}

bool TlsLink::Receive(proto::FrameParser& frames) {
    if (!ssl_) return false;
    readWantsWrite_ = false;
    char buffer[16384];
    for (;;) {
        int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            if (!frames.Feed(std::string_view(buffer, static_cast<size_t>(n)))) return false;
            continue;
        }
        int why = SSL_get_error(ssl_, n);
        if (why == SSL_ERROR_WANT_READ) break;
        if (why == SSL_ERROR_WANT_WRITE) {
            readWantsWrite_ = true;
            break;
        }
        ERR_clear_error();
        return false;  // closed by the peer or broken
    }
    if (writeWantsRead_) return Flush();
    return true;
}

bool ReadServerFingerprint(ServerEndpoint server, std::chrono::milliseconds timeout, std::string& fingerprint,
                           std::string& error) {
    // A pin nothing matches: the handshake stops right after the server has
    // shown its certificate, before anything is sent.
    server.pin.assign(32, '\0');
    TlsLink link;
    auto result = link.Connect(server, nullptr, TlsLink::Clock::now() + timeout, -1, nullptr, error);
    fingerprint = link.peerSha256_;
    if (result == TlsLink::Result::Refused && !fingerprint.empty()) return true;
    if (result == TlsLink::Result::Ok) error = "the server's certificate has no fingerprint";
    return false;
}

}  // namespace qmnim::net
