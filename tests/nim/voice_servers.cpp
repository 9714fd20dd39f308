#include "tests/nim/voice_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <thread>

#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/net/tls_link.h"
#include "outside/qm_nim/session/server_admin.h"
#include "tests/support/session.h"

namespace qmtest {

namespace {

bool IsRoot() { return geteuid() == 0; }
constexpr unsigned kNobody = 65534;

// Asks a server to stop with `sig` and waits for it; kills it when it does not.
void Stop(qmtest::ChildProcess& process, int sig) {
    if (process.pid() <= 0 || !process.Running()) return;
    process.Signal(sig);
    if (process.Wait(10s) < 0) process.Kill();
}

}  // namespace

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

ServerDir::ServerDir(bool forNobody) {
    char pattern[] = "/tmp/qm-voice-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
    chmod(path_.c_str(), 0755);
    if (forNobody && IsRoot()) (void)!chown(path_.c_str(), kNobody, kNobody);
}

ServerDir::~ServerDir() {
    if (!path_.empty()) qmtest::RunProcess({"/bin/rm", "-rf", path_}, 30s);
}

// --- TLS probe ---------------------------------------------------------------------------

std::string ServerFingerprint(int port, std::chrono::milliseconds timeout) {
    qmnim::net::ServerEndpoint server;
    server.host = "127.0.0.1";
    server.port = static_cast<std::uint16_t>(port);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // The port accepts connections before the certificate exists: wait for a handshake.
    while (std::chrono::steady_clock::now() < deadline) {
        std::string fingerprint, error;
        if (qmnim::net::ReadServerFingerprint(server, 2s, fingerprint, error)) return qmnim::net::Hex(fingerprint);
        std::this_thread::sleep_for(50ms);
    }
    return {};
}

// --- murmurd -----------------------------------------------------------------------------

MurmurServer::~MurmurServer() { Kill(); }

bool MurmurServer::Start(std::chrono::milliseconds timeout) {
    port_ = FreePort();
    std::string ini = "database=" + dir_.File("murmur.sqlite") +
                      "\nhost=127.0.0.1\nport=" + std::to_string(port_) +
                      "\nserverpassword=" + kServerPassword +
                      "\nbonjour=false\nice=\ndbus=\nusers=60\nbandwidth=72000\nopusthreshold=0\n"
                      "autobanAttempts=0\nautobanTimeframe=0\nmessageburst=100\nmessagelimit=50\n"
                      "kdfiterations=1000\nlogdays=-1\n";
    qmtest::WriteFile(dir_.File("murmur.ini"), ini);
    if (IsRoot()) {
        for (const char* f : {"murmur.ini"}) (void)!chown(dir_.File(f).c_str(), kNobody, kNobody);
    }
    std::vector<std::string> argv = {"/usr/sbin/murmurd", "-ini", dir_.File("murmur.ini"), "-supw", kSuperUserPassword};
    if (IsRoot()) {
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/env",
                                   "HOME=" + dir_.path()});
    }
    std::string output;
    if (qmtest::RunProcess(argv, timeout, ServerEnvironment({{"HOME", dir_.path()}}), &output) != 0) return false;
    return Launch(timeout);
}

bool MurmurServer::Launch(std::chrono::milliseconds timeout) {
    std::vector<std::string> argv = {"/usr/sbin/murmurd", "-fg", "-ini", dir_.File("murmur.ini")};
    if (IsRoot()) {
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/env",
                                   "HOME=" + dir_.path()});
    }
    if (!process_.Start(argv, ServerEnvironment({{"HOME", dir_.path()}}), dir_.File("murmur.out"))) return false;
    std::string fp = ServerFingerprint(port_, timeout);
    if (fp.empty()) return false;
    if (!fingerprint_.empty() && fp != fingerprint_) return false;  // the database keeps the certificate
    fingerprint_ = fp;
    return true;
}

bool MurmurServer::Restart(std::chrono::milliseconds timeout) { return Launch(timeout); }

void MurmurServer::Kill() {
    if (process_.pid() > 0 && process_.Running()) {
        process_.Signal(SIGKILL);
        process_.Wait(10s);
    }
}

std::string MurmurServer::Log() const { return qmtest::ReadFile(dir_.File("murmur.out")); }

bool MurmurServer::GrantTemporaryChannels(std::string* errorOut) {
    qmnim::net::ServerEndpoint server;
    server.host = "127.0.0.1";
    server.port = static_cast<std::uint16_t>(port_);
    server.pin = *qmnim::net::ParseFingerprint(fingerprint_);
    std::string error;
    bool ok = qmnim::session::GrantTemporaryChannels(server, kSuperUserPassword, 10s, error);
    if (errorOut) *errorOut = error;
    return ok;
}

// --- PulseAudio --------------------------------------------------------------------------

bool PulseServer::Start(std::chrono::milliseconds timeout) {
    std::string d = dir_.path();
    mkdir((d + "/run").c_str(), 0700);
    std::string pa = "load-module module-native-protocol-unix auth-anonymous=1 socket=" + d + "/run/native\n"
                     "load-module module-null-sink sink_name=spk rate=48000 channels=2 "
                     "sink_properties=device.description=VirtualSpeaker\n"
                     "load-module module-null-sink sink_name=micfeed rate=48000 channels=1 "
                     "sink_properties=device.description=MicFeed\n"
                     "load-module module-remap-source master=micfeed.monitor source_name=mic "
                     "source_properties=device.description=VirtualMic\n"
                     "set-default-sink spk\nset-default-source mic\n";
    qmtest::WriteFile(d + "/test.pa", pa);
    std::vector<std::string> argv = {"/usr/bin/pulseaudio", "-n", "-F", d + "/test.pa", "--daemonize=no",
                                     "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                                     "--disallow-exit"};
    if (IsRoot()) argv.push_back("--system=no");
    // No bus, no display: with none it takes no bus name, which a desktop's
    // sound server (or the other private server of a test) holds already.
    if (!process_.Start(argv, ServerEnvironment({{"HOME", d}, {"XDG_RUNTIME_DIR", d + "/run"}}), d + "/pulse.out"))
        return false;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int error = 0;
        pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
        std::string server = address();
        pa_simple* s = pa_simple_new(server.c_str(), "probe", PA_STREAM_RECORD, "spk.monitor", "probe", &format,
                                     nullptr, nullptr, &error);
        if (s) {
            pa_simple_free(s);
            return true;
        }
        if (!process_.Running()) return false;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

PulseServer::~PulseServer() { Stop(process_, SIGTERM); }

std::string PulseServer::Log() const { return qmtest::ReadFile(dir_.File("pulse.out")); }

// --- nginx RTMP ----------------------------------------------------------------------------

bool RtmpIngest::Start(std::chrono::milliseconds timeout) {
    port_ = FreePort();
    std::string d = dir_.path();
    std::string conf = "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                       "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
                       "/error.log info;\nevents { worker_connections 64; }\n"
                       "rtmp {\n  access_log " + d + "/rtmp_access.log;\n  server {\n    listen 127.0.0.1:" +
                       std::to_string(port_) + ";\n    application live { live on; record off; }\n  }\n}\n";
    if (IsRoot()) conf = "user nobody nogroup;\n" + conf;
    qmtest::WriteFile(d + "/nginx.conf", conf);
    mkdir((d + "/logs").c_str(), 0755);
    if (!process_.Start({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"}, ServerEnvironment(),
                        d + "/nginx.out"))
        return false;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (up) return true;
        if (!process_.Running()) return false;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

RtmpIngest::~RtmpIngest() { Stop(process_, SIGQUIT); }

std::string RtmpIngest::Log() const { return qmtest::ReadFile(dir_.File("error.log")); }

// --- sound analysis ----------------------------------------------------------------------

std::vector<short> Record(const std::string& server, const std::string& source, std::chrono::milliseconds duration) {
    pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1), 960 * 2};
    int error = 0;
    pa_simple* s = pa_simple_new(server.c_str(), "voice test", PA_STREAM_RECORD, source.c_str(), "record", &format,
                                 nullptr, &attr, &error);
    if (!s) return {};
    std::vector<short> out(static_cast<size_t>(duration.count()) * 48);
    bool ok = pa_simple_read(s, out.data(), out.size() * sizeof(short), &error) == 0;
    pa_simple_free(s);
    if (!ok) out.clear();
    return out;
}

namespace {

// Magnitudes of the real FFT of the first power-of-two samples (Hann window).
std::vector<double> Magnitudes(const std::vector<short>& samples, size_t& n) {
    n = 1;
    while (n * 2 <= samples.size() && n < (1u << 16)) n *= 2;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n - 1));
        a[i] = samples[i] * w;
    }
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<double> wl = std::polar(1.0, -2 * M_PI / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < len / 2; ++k) {
                auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
    std::vector<double> mag(n / 2);
    for (size_t i = 0; i < n / 2; ++i) mag[i] = std::norm(a[i]);
    return mag;
}

}  // namespace

double PeakFrequency(const std::vector<short>& samples) {
    if (samples.size() < 1024) return 0;
    size_t n = 0;
    std::vector<double> mag = Magnitudes(samples, n);
    size_t best = 1;
    for (size_t i = 2; i < mag.size(); ++i)
        if (mag[i] > mag[best]) best = i;
    return double(best) * 48000.0 / double(n);
}

double EnergyNear(const std::vector<short>& samples, double hz) {
    if (samples.size() < 1024) return 0;
    size_t n = 0;
    std::vector<double> mag = Magnitudes(samples, n);
    double total = 0, near = 0;
    for (size_t i = 1; i < mag.size(); ++i) {
        double f = double(i) * 48000.0 / double(n);
        total += mag[i];
        if (std::fabs(f - hz) <= 10) near += mag[i];
    }
    return total > 0 ? near / total : 0;
}

double Loudness(const std::vector<short>& samples) {
    if (samples.empty()) return -200;
    double sum = 0;
    for (short s : samples) sum += double(s) * s;
    double rms = std::sqrt(sum / double(samples.size())) / 32768.0;
    return rms > 0 ? 20 * std::log10(rms) : -200;
}

bool HasTone(const std::vector<short>& samples, double hz) {
    return Loudness(samples) > -45 && std::fabs(PeakFrequency(samples) - hz) <= 3 && EnergyNear(samples, hz) > 0.5;
}

TonePlayer::TonePlayer(const std::string& server, const std::string& sink, int hz, const std::string& programName) {
    exe_ = dir_.File(programName);
    if (link(VOICE_TONE_EXE, exe_.c_str()) != 0) {
        qmtest::WriteFile(exe_, qmtest::ReadFile(VOICE_TONE_EXE));
        chmod(exe_.c_str(), 0755);
    }
    process_.Start({exe_, sink, std::to_string(hz), "-1"}, ServerEnvironment({{"PULSE_SERVER", server}}),
                   dir_.File("out.txt"));
}

TonePlayer::~TonePlayer() { process_.Kill(); }

}  // namespace qmtest
