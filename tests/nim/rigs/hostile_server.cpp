#include "tests/nim/rigs/hostile_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <deque>
#include <map>

#include "tests/support/tls_identity.h"
#include "tests/nim/rigs/opus_frames.h"

namespace qmtest {

namespace vw = voicewire;

namespace {

constexpr size_t kMaxRecorded = 200000;          // frames kept for the test to look at
constexpr std::uint32_t kMaxClientFrame = 1u << 24;  // a client frame larger than this ends its connection
constexpr std::uint64_t kAllPermissions = 0xF07FF;

struct ChannelInfo {
    std::uint32_t parent = 0;
    std::string name;
    bool temporary = false;
};

SSL_CTX* NewContext(const TlsIdentity& id) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) return nullptr;
    BIO* certBio = BIO_new_mem_buf(id.certPem.data(), static_cast<int>(id.certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(id.keyPem.data(), static_cast<int>(id.keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
}

}  // namespace

struct HostileVoiceServer::Connection {
    int id = 0;
    int fd = -1;
    SSL* ssl = nullptr;
    bool handshaken = false;
    bool wantWrite = false;  // the handshake waits for the socket to take more
    bool closing = false;  // ends once everything queued is written
    bool dead = false;
    std::string in;
    std::string out;
    size_t outPos = 0;
    std::uint32_t session = 0;  // set by the login

    ~Connection() {
        if (ssl) SSL_free(ssl);
        if (fd >= 0) ::close(fd);
    }
};

struct HostileVoiceServer::Stream {
    std::uint32_t session = 0;
    std::unique_ptr<OpusTone> tone;
    int left = 0;
    int step = 1;
    std::uint64_t sequence = 0;
    Clock::time_point due;
};

struct HostileVoiceServer::Shared {
    mutable std::mutex lock;
    mutable std::condition_variable changed;

    // The world and the script (under lock).
    std::map<std::uint32_t, ChannelInfo> channels{{0, {0, "Root", false}}};
    std::map<std::uint32_t, vw::UserFields> users;
    std::optional<std::pair<std::uint32_t, std::string>> reject;
    std::string afterSync;
    bool answerJoins = true, answerPings = true, refuse = false;

    // What happened (under lock).
    std::vector<Received> frames;
    std::vector<Clock::time_point> accepted;
    std::vector<std::pair<Clock::time_point, size_t>> voice;
    size_t logins = 0;
    std::uint32_t lastSession = 0;
    size_t streamsRunning = 0;

    // Server thread only (tasks under lock).
    std::deque<std::function<void()>> tasks;
    SSL_CTX* ctx = nullptr;
    int listenFd = -1;
    int wakeFd = -1;
    bool stop = false;
    std::vector<std::unique_ptr<Connection>> conns;
    std::vector<Stream> streams;
    int nextConnection = 1;
    std::uint32_t nextSession = 1;

    void Queue(Connection& c, const std::string& bytes) {
        if (!c.dead) c.out += bytes;
    }
    void ToLoggedIn(const std::string& bytes, const Connection* except = nullptr) {
        for (auto& c : conns)
            if (c->session && c.get() != except) Queue(*c, bytes);
    }
    void Flush(Connection& c);
    void Read(Connection& c);
    void Handle(Connection& c, std::uint16_t type, std::string payload);
    void Login(Connection& c, const vw::Fields& auth);
    void Close(Connection& c);
    void Accept();
    void RunStreams();
};

void HostileVoiceServer::Shared::Flush(Connection& c) {
    while (!c.dead && c.handshaken && c.outPos < c.out.size()) {
        int chunk = static_cast<int>(std::min<size_t>(c.out.size() - c.outPos, 1 << 16));
        int n = SSL_write(c.ssl, c.out.data() + c.outPos, chunk);
        if (n > 0) {
            c.outPos += static_cast<size_t>(n);
            continue;
        }
        int e = SSL_get_error(c.ssl, n);
        if (e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ) c.dead = true;
        ERR_clear_error();
        break;
    }
    if (c.outPos == c.out.size()) {
        c.out.clear();
        c.outPos = 0;
        if (c.closing) c.dead = true;
    } else if (c.outPos > (1u << 20)) {
        c.out.erase(0, c.outPos);
        c.outPos = 0;
    }
}

void HostileVoiceServer::Shared::Read(Connection& c) {
    if (!c.handshaken) {
        int r = SSL_do_handshake(c.ssl);
        if (r == 1) {
            c.handshaken = true;
        } else {
            int e = SSL_get_error(c.ssl, r);
            c.wantWrite = e == SSL_ERROR_WANT_WRITE;
            if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) c.dead = true;
            ERR_clear_error();
            return;
        }
    }
    char buf[1 << 16];
    for (;;) {
        int n = SSL_read(c.ssl, buf, sizeof buf);
        if (n > 0) {
            c.in.append(buf, static_cast<size_t>(n));
            continue;
        }
        int e = SSL_get_error(c.ssl, n);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) c.dead = true;
        ERR_clear_error();
        break;
    }
    size_t pos = 0;
    while (!c.dead && c.in.size() - pos >= 6) {
        auto b = [&](size_t i) { return static_cast<std::uint8_t>(c.in[pos + i]); };
        std::uint16_t type = static_cast<std::uint16_t>(b(0) << 8 | b(1));
        std::uint32_t length = std::uint32_t{b(2)} << 24 | std::uint32_t{b(3)} << 16 | std::uint32_t{b(4)} << 8 | b(5);
        if (length > kMaxClientFrame) {
            c.dead = true;
            break;
        }
        if (c.in.size() - pos - 6 < length) break;
        std::string payload = c.in.substr(pos + 6, length);
        pos += 6 + length;
        Handle(c, type, std::move(payload));
    }
    c.in.erase(0, pos);
}

void HostileVoiceServer::Shared::Login(Connection& c, const vw::Fields& auth) {
    if (reject) {
        Queue(c, vw::Frame(vw::kReject, vw::RejectMsg(reject->first, reject->second)));
        c.closing = true;
        return;
    }
    for (const auto& [session, user] : users) nextSession = std::max(nextSession, session + 1);
    c.session = nextSession++;
    vw::UserFields self;
    self.session = c.session;
    self.name = auth.String(1).value_or("");
    self.channel = 0;
    std::string out = vw::Frame(vw::kVersion, vw::VersionMsg()) + vw::Frame(vw::kCryptSetup, vw::CryptSetupMsg()) +
                      vw::Frame(vw::kCodecVersion, vw::CodecVersionMsg());
    for (const auto& [id, ch] : channels)
        out += vw::Frame(vw::kChannelState, vw::ChannelStateMsg(id, ch.parent, ch.name, ch.temporary));
    for (const auto& [session, user] : users) out += vw::Frame(vw::kUserState, vw::UserStateMsg(user));
    out += vw::Frame(vw::kUserState, vw::UserStateMsg(self));
    out += vw::Frame(vw::kServerSync, vw::ServerSyncMsg(c.session, 72000, kAllPermissions));
    out += vw::Frame(vw::kServerConfig, vw::ServerConfigMsg(72000, 100000));
    out += afterSync;
    Queue(c, out);
    ToLoggedIn(vw::Frame(vw::kUserState, vw::UserStateMsg(self)), &c);
    users[c.session] = self;
    ++logins;
    lastSession = c.session;
}

void HostileVoiceServer::Shared::Handle(Connection& c, std::uint16_t type, std::string payload) {
    auto now = Clock::now();
    if (type == vw::kUDPTunnel) voice.emplace_back(now, payload.size());
    std::optional<vw::Fields> fields;
    if (type != vw::kUDPTunnel) fields = vw::Parse(payload);
    if (frames.size() < kMaxRecorded) frames.push_back({c.id, type, payload, now});

    switch (type) {
    case vw::kAuthenticate:
        if (fields && !c.session) Login(c, *fields);
        break;
    case vw::kPing:
        if (answerPings) Queue(c, vw::Frame(vw::kPing, payload));
        break;
    case vw::kUserState: {
        if (!fields || !c.session || !answerJoins) break;
        auto session = static_cast<std::uint32_t>(fields->Number(1).value_or(c.session));
        auto user = users.find(session);
        if (user == users.end()) break;
        vw::UserFields change;
        change.session = session;
        if (auto ch = fields->Number(5); ch && channels.count(static_cast<std::uint32_t>(*ch)))
            user->second.channel = change.channel = static_cast<std::uint32_t>(*ch);
        if (auto m = fields->Number(9)) user->second.selfMute = change.selfMute = *m != 0;
        if (auto d = fields->Number(10)) user->second.selfDeaf = change.selfDeaf = *d != 0;
        if (change.channel || change.selfMute || change.selfDeaf) ToLoggedIn(vw::Frame(vw::kUserState, vw::UserStateMsg(change)));
        break;
    }
    case vw::kChannelState: {
        if (!fields || !c.session || !answerJoins || fields->Number(1)) break;
        auto parent = static_cast<std::uint32_t>(fields->Number(2).value_or(0));
        std::string name = fields->String(3).value_or("");
        bool taken = false;
        for (const auto& [id, ch] : channels) taken = taken || (ch.parent == parent && ch.name == name);
        if (taken || !channels.count(parent)) {
            Queue(c, vw::Frame(12, vw::Message().Uint(5, 3).Bytes(6, name).data()));  // PermissionDenied, ChannelName
            break;
        }
        std::uint32_t id = channels.rbegin()->first + 1;
        channels[id] = {parent, name, fields->Number(8).value_or(0) != 0};
        ToLoggedIn(vw::Frame(vw::kChannelState, vw::ChannelStateMsg(id, parent, name, channels[id].temporary)));
        break;
    }
    case vw::kUDPTunnel: {
        vw::Voice v;
        auto speaker = users.find(c.session);
        if (!c.session || speaker == users.end() || !vw::ParseClientVoice(payload, v)) break;
        std::string relayed = vw::Frame(vw::kUDPTunnel, vw::ServerVoice(c.session, v.sequence, v.opus, v.last));
        for (auto& other : conns) {
            auto u = users.find(other->session);
            if (other.get() != &c && u != users.end() && u->second.channel == speaker->second.channel)
                Queue(*other, relayed);
        }
        break;
    }
    default:
        break;
    }
    changed.notify_all();
}

void HostileVoiceServer::Shared::Close(Connection& c) {
    if (c.session) {
        users.erase(c.session);
        ToLoggedIn(vw::Frame(vw::kUserRemove, vw::UserRemoveMsg(c.session)), &c);
        c.session = 0;
    }
}

void HostileVoiceServer::Shared::Accept() {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        auto c = std::make_unique<Connection>();
        c->id = nextConnection++;
        c->fd = fd;
        accepted.push_back(Clock::now());
        changed.notify_all();
        if (refuse) continue;  // closed by the destructor
        c->ssl = SSL_new(ctx);
        SSL_set_fd(c->ssl, fd);
        SSL_set_accept_state(c->ssl);
        conns.push_back(std::move(c));
    }
}

void HostileVoiceServer::Shared::RunStreams() {
    auto now = Clock::now();
    for (Stream& s : streams) {
        while (s.left > 0 && s.due <= now) {
            --s.left;
            ToLoggedIn(vw::Frame(vw::kUDPTunnel, vw::ServerVoice(s.session, s.sequence, s.tone->Next(), s.left == 0)));
            s.sequence += static_cast<std::uint64_t>(s.step);
            s.due += std::chrono::milliseconds(20);
        }
    }
    size_t before = streams.size();
    streams.erase(std::remove_if(streams.begin(), streams.end(), [](const Stream& s) { return s.left <= 0; }),
                  streams.end());
    if (streams.size() != before) {
        streamsRunning = streams.size();
        changed.notify_all();
    }
}

// --- public side ---------------------------------------------------------------------------

HostileVoiceServer::HostileVoiceServer() : shared_(std::make_unique<Shared>()) {}

HostileVoiceServer::~HostileVoiceServer() {
    if (thread_.joinable()) {
        Post([s = shared_.get()] { s->stop = true; });
        thread_.join();
    }
    shared_->conns.clear();
    if (shared_->listenFd >= 0) ::close(shared_->listenFd);
    if (shared_->wakeFd >= 0) ::close(shared_->wakeFd);
    if (shared_->ctx) SSL_CTX_free(shared_->ctx);
}

bool HostileVoiceServer::Start() {
    // A client that hangs up while we write must end its connection, not the test program.
    signal(SIGPIPE, SIG_IGN);
    TlsIdentity id = MakeSelfSignedIdentity();
    shared_->ctx = id.sha256.empty() ? nullptr : NewContext(id);
    if (!shared_->ctx) return false;
    fingerprint_ = id.sha256;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    shared_->listenFd = fd;
    port_ = ntohs(a.sin_port);
    shared_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
    return true;
}

std::string HostileVoiceServer::Deploy() const { return "[voice]\nhost=" + host() + "\nfingerprint=" + fingerprint_ + "\n"; }

void HostileVoiceServer::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(shared_->lock);
        shared_->tasks.push_back(std::move(task));
    }
    std::uint64_t one = 1;
    (void)!::write(shared_->wakeFd, &one, sizeof one);
}

void HostileVoiceServer::Run() {
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.lock);
    std::vector<pollfd> fds;
    while (!s.stop) {
        // Tasks before what the clients sent: a test's push happened before
        // anything a client sent in answer to what the test did next.
        while (!s.tasks.empty()) {
            auto task = std::move(s.tasks.front());
            s.tasks.pop_front();
            task();
        }
        if (s.stop) break;
        if (!fds.empty()) {
            if (fds[1].revents & POLLIN) s.Accept();
            for (size_t i = 2; i < fds.size() && i - 2 < s.conns.size(); ++i) {
                if (fds[i].revents) s.Read(*s.conns[i - 2]);
            }
        }
        s.RunStreams();
        for (auto& c : s.conns) s.Flush(*c);
        for (auto& c : s.conns)
            if (c->dead) s.Close(*c);
        s.conns.erase(std::remove_if(s.conns.begin(), s.conns.end(), [](const auto& c) { return c->dead; }),
                      s.conns.end());
        s.changed.notify_all();

        fds = {{s.wakeFd, POLLIN, 0}, {s.listenFd, POLLIN, 0}};
        for (auto& c : s.conns) {
            short events = POLLIN;
            if (c->outPos < c->out.size() || c->wantWrite) events |= POLLOUT;
            fds.push_back({c->fd, events, 0});
        }
        int timeout = 1000;
        for (const Stream& st : s.streams) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(st.due - Clock::now()).count();
            timeout = std::min<int>(timeout, static_cast<int>(std::max<long long>(0, ms)));
        }
        lock.unlock();
        ::poll(fds.data(), fds.size(), timeout);
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(s.wakeFd, &count, sizeof count);
        }
        lock.lock();
    }
    for (auto& c : s.conns) s.Close(*c);
}

void HostileVoiceServer::AddChannel(std::uint32_t id, std::uint32_t parent, const std::string& name) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->channels[id] = {parent, name, false};
}

void HostileVoiceServer::AddChannels(std::uint32_t firstId, size_t count, const std::string& prefix) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    for (size_t i = 0; i < count; ++i) shared_->channels[firstId + static_cast<std::uint32_t>(i)] = {0, prefix + std::to_string(i), false};
}

void HostileVoiceServer::AddUser(const voicewire::UserFields& user) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->users[user.session] = user;
}

void HostileVoiceServer::AddUsers(std::uint32_t channel, std::uint32_t firstSession, size_t count,
                                  const std::string& prefix) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    for (size_t i = 0; i < count; ++i) {
        auto session = firstSession + static_cast<std::uint32_t>(i);
        shared_->users[session] = vw::User(session, prefix + std::to_string(i), channel);
    }
}

void HostileVoiceServer::RejectLogins(std::uint32_t type, const std::string& reason) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->reject.emplace(type, reason);
}

void HostileVoiceServer::SendAfterSync(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->afterSync = bytes;
}

void HostileVoiceServer::AnswerJoins(bool on) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->answerJoins = on;
}

void HostileVoiceServer::AnswerPings(bool on) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->answerPings = on;
}

void HostileVoiceServer::RefuseConnections(bool on) {
    std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->refuse = on;
}

bool HostileVoiceServer::Send(const std::string& bytes) {
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(shared_->lock);  // the server thread holds it while it touches conns
        for (const auto& c : shared_->conns) any = any || c->session != 0;
    }
    Post([s = shared_.get(), bytes] { s->ToLoggedIn(bytes); });
    return any;
}

bool HostileVoiceServer::WaitSent(std::chrono::milliseconds timeout) {
    // A marker task: once it has run, everything posted before it is queued.
    auto marker = std::make_shared<bool>(false);
    Post([s = shared_.get(), marker] {
        *marker = true;
        s->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared_->lock);
    return shared_->changed.wait_for(lock, timeout, [&] {
        if (!*marker) return false;
        for (const auto& c : shared_->conns)
            if (c->outPos < c->out.size()) return false;
        return true;
    });
}

void HostileVoiceServer::DropConnections() {
    Post([s = shared_.get()] {
        for (auto& c : s->conns) c->dead = true;
    });
}

void HostileVoiceServer::StreamTone(std::uint32_t session, double hz, int frames, int sequenceStep) {
    {
        std::lock_guard<std::mutex> lock(shared_->lock);
        ++shared_->streamsRunning;
    }
    Post([s = shared_.get(), session, hz, frames, sequenceStep] {
        Stream st;
        st.session = session;
        st.tone = std::make_unique<OpusTone>(hz);
        st.left = frames;
        st.step = sequenceStep;
        st.due = Clock::now();
        s->streams.push_back(std::move(st));
    });
}

bool HostileVoiceServer::WaitStreamsDone(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(shared_->lock);
    return shared_->changed.wait_for(lock, timeout, [&] { return shared_->streamsRunning == 0; });
}

std::vector<HostileVoiceServer::Received> HostileVoiceServer::Frames() const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    return shared_->frames;
}

size_t HostileVoiceServer::Count(std::uint16_t type) const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    return static_cast<size_t>(std::count_if(shared_->frames.begin(), shared_->frames.end(),
                                             [&](const Received& r) { return r.type == type; }));
}

std::optional<HostileVoiceServer::Received> HostileVoiceServer::WaitFor(
    std::uint16_t type, std::chrono::milliseconds timeout, const std::function<bool(const Received&)>& match,
    Clock::time_point after, int connection) const {
    std::unique_lock<std::mutex> lock(shared_->lock);
    std::optional<Received> found;
    size_t looked = 0;
    shared_->changed.wait_for(lock, timeout, [&] {
        for (; looked < shared_->frames.size() && !found; ++looked) {
            const Received& r = shared_->frames[looked];
            if (r.type == type && r.at >= after && (connection == 0 || r.connection == connection) &&
                (!match || match(r)))
                found = r;
        }
        return found.has_value();
    });
    return found;
}

std::vector<HostileVoiceServer::Clock::time_point> HostileVoiceServer::Connections() const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    return shared_->accepted;
}

bool HostileVoiceServer::WaitConnections(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(shared_->lock);
    return shared_->changed.wait_for(lock, timeout, [&] { return shared_->accepted.size() >= count; });
}

size_t HostileVoiceServer::Logins() const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    return shared_->logins;
}

bool HostileVoiceServer::WaitLogins(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(shared_->lock);
    return shared_->changed.wait_for(lock, timeout, [&] { return shared_->logins >= count; });
}

std::uint32_t HostileVoiceServer::LastSession() const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    return shared_->lastSession;
}

std::optional<std::uint32_t> HostileVoiceServer::ChannelOf(std::uint32_t session) const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    auto u = shared_->users.find(session);
    if (u == shared_->users.end()) return std::nullopt;
    return u->second.channel;
}

size_t HostileVoiceServer::VoiceBytes(Clock::time_point from, Clock::time_point to) const {
    std::lock_guard<std::mutex> lock(shared_->lock);
    size_t total = 0;
    for (const auto& [at, bytes] : shared_->voice)
        if (at >= from && at < to) total += bytes;
    return total;
}

}  // namespace qmtest
