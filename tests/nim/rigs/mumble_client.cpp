#include "tests/nim/rigs/mumble_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <map>
#include <cctype>
#include <future>
#include <thread>

#include "tests/support/status_notifier.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char kBusName[] = "net.sourceforge.mumble.mumble";
constexpr const char kInterface[] = "net.sourceforge.mumble.Mumble";

std::string Hex(const unsigned char* bytes, unsigned int length) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

// One TLS handshake with 127.0.0.1:`port`; the certificate's SHA-1 or "".
std::string HandshakeSha1(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string digest;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = ctx ? SSL_new(ctx) : nullptr;
    if (ssl && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) == 1) {
            if (X509* cert = SSL_get1_peer_certificate(ssl)) {
                unsigned char md[EVP_MAX_MD_SIZE];
                unsigned int length = 0;
                if (X509_digest(cert, EVP_sha1(), md, &length) == 1) digest = Hex(md, length);
                X509_free(cert);
            }
        }
    }
    ERR_clear_error();
    if (ssl) SSL_free(ssl);
    if (ctx) SSL_CTX_free(ctx);
    ::close(fd);
    return digest;
}

// Percent-encodes all but the unreserved characters of a URL.
std::string UrlPart(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string UrlDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The channel path of a client URL (mumble://USER@HOST:PORT/A/B?version=...): "A/B".
std::string ChannelOfUrl(const std::string& url) {
    size_t host = url.find('@');
    size_t slash = url.find('/', host == std::string::npos ? 9 : host);
    size_t query = url.find('?');
    if (slash == std::string::npos || (query != std::string::npos && slash > query)) return {};
    std::string path = url.substr(slash + 1, query == std::string::npos ? std::string::npos : query - slash - 1);
    while (!path.empty() && path.back() == '/') path.pop_back();
    return UrlDecode(path);
}

const char kConfig[] =
    "[General]\nlastupdate=2\n\n"
    // Continuous transmission: its speech detector sends nothing for a steady tone.
    "[audio]\ninput=PulseAudio\noutput=PulseAudio\ntransmit=0\n\n"
    "[pulseaudio]\ninput=mic\noutput=spk\n\n"
    "[ui]\nupdatecheck=false\nplugincheck=false\nusage=false\naskonquit=false\nusername=NAME\n\n"
    "[tts]\nenable=false\n\n"
    // Every kind of event also as a desktop notification (console 1 + notification 4):
    // how a test reads what the client tells its user (see NotificationRecorder).
    "[messages]\nMESSAGES";

}  // namespace

std::string CertificateSha1(int port, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    do {
        std::string digest = HandshakeSha1(port);
        if (!digest.empty()) return digest;
        std::this_thread::sleep_for(50ms);  // the port may accept before the server has its certificate
    } while (Clock::now() < deadline);
    return {};
}

MumbleClient::MumbleClient(std::string name) : name_(std::move(name)) {}

MumbleClient::~MumbleClient() { Stop(); }

bool MumbleClient::PrepareHome(const Server& server) {
    std::string home = dir_.File("home");
    for (const char* d : {"", "/.config", "/.config/Mumble", "/Documents", "/.local", "/.local/share",
                          "/.local/share/Mumble", "/.local/share/Mumble/Mumble", "/run"})
        mkdir((home + d).c_str(), 0700);
    std::string config = kConfig;
    config.replace(config.find("NAME"), 4, name_);
    std::string messages;
    for (int i = 1; i <= 29; ++i) messages += std::to_string(i) + "\\log=5\n";
    config.replace(config.find("MESSAGES"), 8, messages + "size=29\n");
    if (!WriteFile(home + "/.config/Mumble/Mumble.conf", config)) return false;

    // A client certificate of its own, so that it does not ask for one.
    std::string key = dir_.File("client.key"), cert = dir_.File("client.pem");
    if (RunProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-subj", "/CN=" + name_, "-days", "30"},
                   30s) != 0 ||
        RunProcess({"/usr/bin/openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out",
                    home + "/Documents/MumbleAutomaticCertificateBackup.p12", "-passout", "pass:", "-certpbe",
                    "PBE-SHA1-3DES", "-keypbe", "PBE-SHA1-3DES", "-macalg", "sha1"},
                   30s) != 0)
        return false;

    // The server's self-signed certificate trusted for the address the URL names.
    std::string sql = "CREATE TABLE cert(id INTEGER PRIMARY KEY AUTOINCREMENT, hostname TEXT, port INTEGER, digest TEXT);"
                      "INSERT INTO cert(hostname, port, digest) VALUES('127.0.0.1', " +
                      std::to_string(server.port) + ", '" + server.certificateSha1 + "');";
    return RunProcess({"/usr/bin/sqlite3", home + "/.local/share/Mumble/Mumble/mumble.sqlite", sql}, 30s) == 0;
}

bool MumbleClient::StartDisplay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const qmtest::ExecPlan plan({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24",
                                 "-nolisten", "tcp", "-noreset"});
    pid_t parent = getpid();
    xvfb_ = fork();
    if (xvfb_ < 0) return false;
    if (xvfb_ == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // no X server outlives a test that crashed
        if (getppid() != parent) _exit(0);
        qmtest::KeepAcrossExec(fds[1]);
        plan.Exec();
        _exit(127);
    }
    close(fds[1]);
    std::string number = ReadLineAndClose(fds[0]);  // written once it accepts clients
    if (number.empty()) return false;
    display_ = ":" + number;
    return true;
}

bool MumbleClient::Start(const Server& server, const std::string& channel, std::chrono::milliseconds timeout) {
    started_ = Clock::now();
    server_ = server;
    pulse_ = std::make_unique<PulseServer>();
    bus_ = std::make_unique<SessionBus>();
    // Its home (a key pair to generate, a database to write) takes as long as
    // its servers, on a loaded machine a second or more: made meanwhile.
    auto homeReady = std::async(std::launch::async, [this, &server] { return PrepareHome(server); });
    bool servers = pulse_->Start() && bus_->started() && StartDisplay();
    if (!homeReady.get() || !servers) return false;
    notes_ = std::make_unique<NotificationRecorder>(bus_->address());
    if (!notes_->started()) return false;

    std::string home = dir_.File("home");
    std::string url = "mumble://" + UrlPart(name_) + ":" + UrlPart(server.password) + "@127.0.0.1:" +
                      std::to_string(server.port) + "/" + UrlPart(channel) + "?version=1.2.0";
    // Nothing from the test's environment: its own home, display, bus and sound server.
    std::vector<std::string> argv = {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + home,
                                     "XDG_RUNTIME_DIR=" + home + "/run", "DISPLAY=" + display_,
                                     "PULSE_SERVER=" + pulse_->address(),
                                     "DBUS_SESSION_BUS_ADDRESS=" + bus_->address(), "QT_QPA_PLATFORM=xcb",
                                     "JACK_NO_START_SERVER=1", "/usr/bin/mumble", "-m", url};
    if (!process_.Start(argv, {}, dir_.File("mumble.log"))) return false;

    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        bus_->address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (error) g_error_free(error);
    if (!connection_) return false;
    bool answered = WaitUntil(
        [&] {
            GVariant* r = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner",
                                                      g_variant_new("(s)", kBusName), G_VARIANT_TYPE("(b)"),
                                                      G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
            gboolean owned = FALSE;
            if (r) {
                g_variant_get(r, "(b)", &owned);
                g_variant_unref(r);
            }
            return owned || !process_.Running();
        },
        timeout);
    startCost_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
    if (!answered || !process_.Running()) return false;
    // Workaround (Mumble 1.3.4): it shows desktop notifications only while its
    // main window is not the active one, and on an X server without a window
    // manager that window stays active; unmapped, it tells its user everything
    // through notifications. Needed as long as the rig reads notifications.
    return RunProcess({"/usr/bin/xdotool", "search", "--sync", "--name", "^Mumble -- ", "windowunmap", "--sync"},
                      timeout, {{"DISPLAY", display_}}) == 0;
}

void MumbleClient::Stop() {
    if (process_.pid() > 0 && process_.Running()) {
        process_.Signal(SIGTERM);
        if (process_.Wait(10s) < 0) process_.Kill();
    }
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        connection_ = nullptr;
    }
    notes_.reset();
    bus_.reset();
    pulse_.reset();
    if (xvfb_ > 0) {
        kill(xvfb_, SIGTERM);
        int status;
        waitpid(xvfb_, &status, 0);
        xvfb_ = -1;
    }
}

GVariant* MumbleClient::Call(const char* method, GVariant* parameters) const {
    if (!connection_) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return nullptr;
    }
    return g_dbus_connection_call_sync(connection_, kBusName, "/", kInterface, method, parameters, nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

std::optional<std::string> MumbleClient::CurrentUrl() const {
    GVariant* r = Call("getCurrentUrl", nullptr);  // an error while not connected
    if (!r) return std::nullopt;
    std::optional<std::string> url;
    if (g_variant_is_of_type(r, G_VARIANT_TYPE("(s)"))) {
        const char* s = nullptr;
        g_variant_get(r, "(&s)", &s);
        url = s;
    }
    g_variant_unref(r);
    return url;
}

bool MumbleClient::WaitConnected(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    bool ok = WaitUntil([&] { return CurrentUrl().has_value() || !process_.Running(); }, timeout) && process_.Running();
    if (!ok) return false;
    if (connectCost_.count() == 0)
        connectCost_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
    // Workaround (Mumble 1.3.4 on PulseAudio 16): about one start in five
    // opens no playback stream (its log never says "AudioOutput:
    // Initialized"), and it stays mute; any change of the sound server's
    // devices makes it look again. Can go with a Mumble without that race.
    auto playing = [&] { return Log().find("AudioOutput: Initialized") != std::string::npos; };
    for (int kick = 0; kick < 3; ++kick) {
        auto wait = std::min<Clock::duration>(3s, std::max<Clock::duration>(deadline - Clock::now(), 0s));
        if (WaitUntil(playing, std::chrono::duration_cast<std::chrono::milliseconds>(wait))) return true;
        std::string module;
        std::map<std::string, std::string> env = {{"PULSE_SERVER", pulse()}};
        RunProcess({"/usr/bin/pactl", "load-module", "module-null-sink", "sink_name=rig_kick"}, 10s, env, &module);
        while (!module.empty() && std::isspace(static_cast<unsigned char>(module.back()))) module.pop_back();
        if (!module.empty()) RunProcess({"/usr/bin/pactl", "unload-module", module}, 10s, env);
    }
    return playing();
}

bool MumbleClient::WaitInChannel(const std::string& channel, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            auto url = CurrentUrl();
            return url && ChannelOfUrl(*url) == channel;
        },
        timeout);
}

bool MumbleClient::SetSelfMuted(bool muted) {
    GVariant* r = Call("setSelfMuted", g_variant_new("(b)", muted));
    if (r) g_variant_unref(r);
    return r != nullptr;
}

bool MumbleClient::SetSelfDeaf(bool deaf) {
    GVariant* r = Call("setSelfDeaf", g_variant_new("(b)", deaf));
    if (r) g_variant_unref(r);
    return r != nullptr;
}

namespace {
std::optional<bool> Flag(GVariant* r) {
    if (!r) return std::nullopt;
    std::optional<bool> out;
    if (g_variant_is_of_type(r, G_VARIANT_TYPE("(b)"))) {
        gboolean b = FALSE;
        g_variant_get(r, "(b)", &b);
        out = b != FALSE;
    }
    g_variant_unref(r);
    return out;
}
}  // namespace

std::optional<bool> MumbleClient::SelfMuted() const { return Flag(Call("isSelfMuted", nullptr)); }
std::optional<bool> MumbleClient::SelfDeaf() const { return Flag(Call("isSelfDeaf", nullptr)); }

std::vector<std::string> MumbleClient::TalkingUsers() const {
    std::vector<std::string> users;
    GVariant* r = Call("getTalkingUsers", nullptr);
    if (!r) return users;
    if (g_variant_is_of_type(r, G_VARIANT_TYPE("(as)"))) {
        GVariantIter* it = nullptr;
        const char* s = nullptr;
        g_variant_get(r, "(as)", &it);
        while (g_variant_iter_loop(it, "&s", &s)) users.emplace_back(s);
        g_variant_iter_free(it);
    }
    g_variant_unref(r);
    return users;
}

bool MumbleClient::WaitTalking(const std::string& user, bool talking, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            auto users = TalkingUsers();
            return (std::find(users.begin(), users.end(), user) != users.end()) == talking;
        },
        timeout);
}

std::string MumbleClient::pulse() const { return pulse_ ? pulse_->address() : std::string(); }

std::unique_ptr<TonePlayer> MumbleClient::PlayTone(int hz) const {
    return std::make_unique<TonePlayer>(pulse(), "micfeed", hz);
}

std::vector<short> MumbleClient::Record(std::chrono::milliseconds duration) const {
    return qmtest::Record(pulse(), "spk.monitor", duration);
}

bool MumbleClient::Hears(double hz, int tries, std::chrono::milliseconds each) const {
    for (int i = 0; i < tries; ++i)
        if (HasTone(Record(each), hz)) return true;
    return false;
}

std::string MumbleClient::Log() const { return ReadFile(dir_.File("mumble.log")); }

}  // namespace qmtest
