// Voice chat on loopback through murmurd, measured:
// - mouth to ear: markers played into A's virtual microphone, found in what
//   B's virtual loudspeaker plays (A and B are peer processes with sound
//   servers of their own); p50, p95 and the growth between the first and the
//   last minute of a ten-minute call (QM_BENCH_VOICE_SECONDS shortens it;
//   QM_BENCH_VOICE_STALL_MS stops the talker's process that long at the
//   call's middle, a hiccup of its machine, to show whether the delay
//   comes back to where it was);
// - CPU of the talking client A over that call (% of one core);
// - upstream wire bytes of one talking client at 40 kb/s speech, the module
//   next to the Mumble desktop client (IP packets to the server's port, TCP
//   and UDP, counted by the firewall of this program's network namespace);
// - 20 listeners in this process and one talker: the share of the talker's
//   frames the worst listener received;
// - CPU of a client talking in a speech room (noise suppressor, gain and
//   speech detector at work), and of one that talks while it hears the
//   other member (the echo canceller too), each with its share of its sound
//   server (what the server costs with the client, less what it costs
//   without it while the test's speech still plays into the microphone),
//   next to the same with every stage of the microphone's processing off,
//   interleaved.
// QM_BENCH_VOICE_PARTS (e.g. "delay,cpu") runs only some of them: delay,
// upstream, listeners, cpu.
#include <pulse/simple.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/figures.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/thread_priority.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/net/client_identity.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/session/voice_session.h"
#include "tests/support/network.h"
#include "tests/support/process.h"
#include "tests/nim/rigs/impairment.h"
#include "tests/nim/rigs/mumble_client.h"
#include "tests/nim/rigs/audio_rigs.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"
#include "tests/nim/voice_timing.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 48000;

long CpuTicks(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    std::string f;
    for (size_t i = close + 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ') {
            fields.push_back(f);
            f.clear();
        } else {
            f += text[i];
        }
    }
    return fields.size() > 12 ? std::atol(fields[11].c_str()) + std::atol(fields[12].c_str()) : 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * double(v.size())))];
}

struct MouthToEar {
    std::vector<double> delaysMs;
    std::vector<double> at;  // seconds into the call
    double cpuPercent = -1;
};

MouthToEar MeasureMouthToEar(qmtest::MurmurServer& server, std::chrono::seconds length,
                             std::chrono::milliseconds stall = {}) {
    MouthToEar out;
    qmtest::PulseServer soundA, soundB;
    if (!soundA.Start() || !soundB.Start()) return out;
    std::string voice = qmtest::VoiceDeploy(server.host(), server.fingerprint());
    qmtest::VoicePeer a("A", soundA.address(), voice), b("B", soundB.address(), voice);
    if (!a.Start() || !b.Start() || !a.Login("talker", qmtest::MurmurServer::kServerPassword) ||
        !b.Login("listener", qmtest::MurmurServer::kServerPassword))
        return out;
    a.Join("latency", "- 1 0");
    b.Join("latency", "- 1 0");
    a.Do("mic - 0");
    b.Do("play -");

    double start = qmtest::SteadySeconds();
    // Every 507 ms: a marker starts 7 ms later in the talker's 20 ms frame
    // than the one before, so the figures take every place in a frame
    // alike, as speech does (at 500 ms each run would measure one place).
    qmtest::MarkerTalker talker(soundA.address(), "micfeed", std::chrono::milliseconds(507));
    qmtest::TimedEar ear(soundB.address(), "spk.monitor");
    std::this_thread::sleep_for(3s);  // the call settles before it counts
    long cpu0 = CpuTicks(a.pid());
    double from = qmtest::SteadySeconds();
    // A line every half minute: a long call shows its progress, and where a
    // step in the delay came.
    for (auto left = std::chrono::seconds(length); left.count() > 0;) {
        if (stall.count() > 0 && left <= length / 2) {
            kill(a.pid(), SIGSTOP);
            std::this_thread::sleep_for(stall);
            kill(a.pid(), SIGCONT);
            std::printf("%3.0f s: the talker stopped for %lld ms\n", qmtest::SteadySeconds() - from,
                        static_cast<long long>(stall.count()));
            stall = {};
        }
        auto part = std::min<std::chrono::seconds>(left, 30s);
        std::this_thread::sleep_for(part);
        left -= part;
        double now = qmtest::SteadySeconds();
        std::vector<double> d = qmtest::MarkerDelaysMs(talker.Emitted(), ear.Markers(), now - double(part.count()), now - 0.5);
        std::printf("%3.0f s: median %.1f ms over %zu markers\n", now - from, qmtest::Median(d), d.size());
        std::fflush(stdout);
    }
    long cpu1 = CpuTicks(a.pid());
    double to = qmtest::SteadySeconds();
    out.cpuPercent = 100.0 * double(cpu1 - cpu0) / double(sysconf(_SC_CLK_TCK)) / (to - from);
    std::vector<double> emitted = talker.Emitted(), heard = ear.Markers();
    for (double e : emitted) {
        if (e < from || e >= to) continue;
        std::vector<double> one = qmtest::MarkerDelaysMs({e}, heard, from, to);
        if (one.empty()) continue;
        out.delaysMs.push_back(one.front());
        out.at.push_back(e - start);
    }
    return out;
}

// Upstream IP bytes per second of one talking client whose traffic goes to
// `port` (a relay of its own in front of the server).
class UpstreamCounter {
public:
    explicit UpstreamCounter(int port) : port_(std::to_string(port)) {
        for (const char* proto : {"udp", "tcp"}) Rule("-A", proto);
    }
    ~UpstreamCounter() {
        for (const char* proto : {"udp", "tcp"}) Rule("-D", proto);
    }
    // Bytes counted so far (UDP + TCP).
    std::uint64_t Bytes() const {
        std::string listing;
        qmtest::RunProcess({"/usr/sbin/iptables-legacy", "-L", "OUTPUT", "-v", "-x", "-n"}, 10s, {}, &listing);
        std::uint64_t total = 0;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("dpt:" + port_) == std::string::npos) continue;
            std::istringstream fields(line);
            std::uint64_t packets = 0, bytes = 0;
            fields >> packets >> bytes;
            total += bytes;
        }
        return total;
    }

private:
    void Rule(const char* op, const char* proto) const {
        qmtest::RunProcess({"/usr/sbin/iptables-legacy", op, "OUTPUT", "-o", "lo", "-p", proto, "--dport", port_}, 10s);
    }
    std::string port_;
};

// Bytes per second the talker sends over `seconds` once it is heard.
double UpstreamRate(const qmtest::DelayRelay& relay, const std::string& listenerPulse, std::chrono::seconds seconds) {
    UpstreamCounter counter(relay.port());
    bool heard = false;
    for (int i = 0; i < 40 && !heard; ++i)
        heard = qmtest::HasTone(qmtest::Record(listenerPulse, "spk.monitor", 500ms), 440);
    if (!heard) return -1;
    std::uint64_t b0 = counter.Bytes();
    auto t0 = Clock::now();
    std::this_thread::sleep_for(seconds);
    std::uint64_t b1 = counter.Bytes();
    return double(b1 - b0) / std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Upstream {
    double module = -1, mumble = -1;
};

Upstream MeasureUpstream(qmtest::MurmurServer& server) {
    Upstream out;
    if (!qmtest::Firewall::Available()) return out;
    qmtest::PulseServer talkerSound, listenerSound;
    if (!talkerSound.Start() || !listenerSound.Start()) return out;
    qmtest::VoicePeer listener("L", listenerSound.address(), qmtest::VoiceDeploy(server.host(), server.fingerprint()));
    if (!listener.Start() || !listener.Login("ear", qmtest::MurmurServer::kServerPassword)) return out;
    listener.Join("wire", "- 1 0");
    listener.Do("play -");
    {
        qmtest::DelayRelay relay(server.port());
        if (!relay.Start()) return out;
        relay.SetDelay(0ms);
        // It sends all the time, as the Mumble client here does: a speech
        // room's detector rightly takes the test tone for no speech.
        qmtest::VoicePeer module("M", talkerSound.address(),
                                 qmtest::VoiceDeploy(relay.host(), server.fingerprint(), "speech_detection=off\n"));
        if (module.Start() && module.Login("module", qmtest::MurmurServer::kServerPassword)) {
            module.Join("wire", "- 1 0");  // speech at the high rate: 40 kb/s
            module.Do("mic - 0");
            qmtest::TonePlayer tone(talkerSound.address(), "micfeed", 440);
            out.module = UpstreamRate(relay, listenerSound.address(), 20s);
        }
    }
    {
        qmtest::DelayRelay relay(server.port());
        if (!relay.Start()) return out;
        relay.SetDelay(0ms);
        qmtest::MumbleClient mumble("desktop");
        std::string sha1 = qmtest::CertificateSha1(relay.port(), 10s);
        if (mumble.Start({relay.port(), qmtest::MurmurServer::kServerPassword, sha1}, "wire") &&
            mumble.WaitConnected() && mumble.WaitInChannel("wire")) {
            auto tone = mumble.PlayTone(440);
            out.mumble = UpstreamRate(relay, listenerSound.address(), 20s);
        }
    }
    return out;
}

// A listener that counts the talker's frames.
class Counter : public qmnim::session::SessionListener {
public:
    void OnOnline(std::uint32_t, bool) override {}
    void OnOffline(const std::string&, bool) override {}
    void OnJoin(const qmnim::session::JoinResult& r) override { joined = r.code == qmnim::session::kJoinOk; }
    void OnMembersChanged() override {}
    void OnVoice(const qmnim::proto::ReceivedVoice&) override { ++frames; }
    std::atomic<bool> joined{false};
    std::atomic<long> frames{0};
};

double MeasureListeners(qmtest::MurmurServer& server, int listeners, std::chrono::seconds length) {
    qmnim::session::SessionOptions options;
    options.server.host = "127.0.0.1";
    options.server.port = static_cast<std::uint16_t>(server.port());
    options.server.pin = *qmnim::net::ParseFingerprint(server.fingerprint());
    // The talker makes the room (which takes a client certificate), the
    // listeners enter it: voice is heard only inside a room.
    qmtest::TempDir identityFolder;
    std::string error;
    qmnim::session::SessionOptions talkerOptions = options;
    talkerOptions.identity = qmnim::net::ClientIdentity::LoadOrCreate(identityFolder.path(), error);
    Counter talkerEvents;
    qmnim::session::VoiceSession talker(talkerOptions, &talkerEvents);
    if (!talker.Login("talker", qmtest::MurmurServer::kServerPassword, 5s)) return -1;
    talker.Join("crowd");
    auto until = Clock::now() + 10s;
    while (Clock::now() < until && !talkerEvents.joined) std::this_thread::sleep_for(10ms);
    std::vector<std::unique_ptr<Counter>> counters;
    std::vector<std::unique_ptr<qmnim::session::VoiceSession>> sessions;
    for (int i = 0; i < listeners; ++i) {
        counters.push_back(std::make_unique<Counter>());
        sessions.push_back(std::make_unique<qmnim::session::VoiceSession>(options, counters.back().get()));
        if (!sessions.back()->Login("listener" + std::to_string(i), qmtest::MurmurServer::kServerPassword, 5s))
            return -1;
        sessions.back()->Join("crowd");
    }
    until = Clock::now() + 10s;
    for (auto& c : counters) {
        while (Clock::now() < until && !c->joined) std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(200ms);
    qmnim::audio::Transmitter t([&](std::string p) { talker.SendVoice(std::move(p)); }, nullptr, nullptr);
    t.SetProcessing({false, false, false, false});  // a tone for the frame count: no speech detector
    t.Configure(qmnim::audio::OpusUse::Speech, 24000);
    t.SetSending(true);
    t.SetInputActive(qmnim::audio::Transmitter::Input::Mic, true);
    std::vector<std::int16_t> frame(960);
    size_t n = 0;
    auto next = Clock::now();
    auto end = next + length;
    while (Clock::now() < end) {
        for (auto& v : frame) v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(n++) / kRate));
        t.OnSamples(qmnim::audio::Transmitter::Input::Mic, frame.data(), frame.size());
        next += 20ms;
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(1s);  // the last frames arrive
    double sent = double(t.framesSent());
    double worst = 1;
    for (auto& c : counters) worst = std::min(worst, double(c->frames) / sent);
    std::printf("talker sent %.0f frames; listeners received:", sent);
    for (auto& c : counters) std::printf(" %ld", c->frames.load());
    std::printf("\n");
    return worst * 100;
}

// The CPU of each of `pids` (% of a core) over the next `length`.
std::vector<double> CpuPercentOver(const std::vector<int>& pids, std::chrono::seconds length) {
    std::vector<long> before;
    for (int pid : pids) before.push_back(CpuTicks(pid));
    auto from = Clock::now();
    std::this_thread::sleep_for(length);
    std::vector<double> out;
    for (size_t i = 0; i < pids.size(); ++i) out.push_back(double(CpuTicks(pids[i]) - before[i]));
    double wall = std::chrono::duration<double>(Clock::now() - from).count();
    for (double& ticks : out) ticks = 100.0 * ticks / double(sysconf(_SC_CLK_TCK)) / wall;
    return out;
}

struct TalkerCpu {
    double client = -1, sound = -1;  // % of a core
    // The sound server with A gone and the test's speech still playing into
    // A's microphone: the rig's own cost, which is not A's share.
    double soundAlone = -1;
    double share() const { return sound < 0 || soundAlone < 0 ? -1 : std::max(0.0, sound - soundAlone); }
};

// A talks in a speech room for `length` while B listens, or (`answered`)
// both talk at the same time, each hearing the other; the CPU of A and of
// A's sound server, and then of that server for as long again with A gone
// (it still plays the test's speech into A's virtual microphone).
// `switches`: [voice] lines for both.
TalkerCpu MeasureTalkerCpu(qmtest::MurmurServer& server, const std::string& room, const std::string& switches,
                           bool answered, std::chrono::seconds length) {
    static const std::vector<short> wordsA = qmtest::SpeechSample(
        "Let us meet at the bridge in five minutes. Does anybody have a spare key? I will bring mine, and the map.",
        -26, 300);
    static const std::vector<short> wordsB = qmtest::SpeechSample(
        "The quick brown fox jumps over the lazy dog, and then it runs back into the forest, sentence after sentence.",
        -22, 500);
    TalkerCpu out;
    if (wordsA.empty() || wordsB.empty()) return out;
    qmtest::PulseServer soundA, soundB;
    if (!soundA.Start() || !soundB.Start()) return out;
    std::string voice = qmtest::VoiceDeploy(server.host(), server.fingerprint(), switches);
    qmtest::VoicePeer a("A", soundA.address(), voice), b("B", soundB.address(), voice);
    if (!a.Start() || !b.Start() || !a.Login("talker", qmtest::MurmurServer::kServerPassword) ||
        !b.Login("answerer", qmtest::MurmurServer::kServerPassword))
        return out;
    for (qmtest::VoicePeer* p : {&a, &b}) {
        if (p->Join(room, "- 0 0").empty() || !p->Do("mic - 0") || !p->Started(0) || !p->Do("play -") ||
            !p->Started(2))
            return out;
    }
    auto voiceA = qmtest::SoundPlayer::Samples(soundA.address(), "micfeed", wordsA);
    auto voiceB = answered ? qmtest::SoundPlayer::Samples(soundB.address(), "micfeed", wordsB) : nullptr;
    std::this_thread::sleep_for(3s);  // the call settles (each hears the other) before the time counts
    std::vector<double> busy = CpuPercentOver({a.pid(), soundA.pid()}, length);
    out.client = busy[0];
    out.sound = busy[1];
    a.Stop();
    std::this_thread::sleep_for(1s);  // the server lets go of A's streams
    out.soundAlone = CpuPercentOver({soundA.pid()}, length)[0];
    return out;
}

// False when no marker came through.
bool MeasureDelay(qmtest::MurmurServer& server) {
    int seconds = qmbench::CountFromEnv("QM_BENCH_VOICE_SECONDS", 600);
    auto stall = std::chrono::milliseconds(qmbench::CountFromEnv("QM_BENCH_VOICE_STALL_MS", 0));
    MouthToEar m = MeasureMouthToEar(server, std::chrono::seconds(seconds), stall);
    if (m.delaysMs.empty()) {
        std::fprintf(stderr, "bench_voice: no marker came through\n");
        return false;
    }
    // Growth: the last minute against the first (or the last and first sixth of a shorter call).
    double span = std::min(60.0, (m.at.back() - m.at.front()) / 6);
    std::vector<double> first, last;
    double t0 = m.at.front(), t1 = m.at.back();
    for (size_t i = 0; i < m.delaysMs.size(); ++i) {
        if (m.at[i] < t0 + span) first.push_back(m.delaysMs[i]);
        if (m.at[i] > t1 - span) last.push_back(m.delaysMs[i]);
    }
    double p50 = Percentile(m.delaysMs, 0.5), p95 = Percentile(m.delaysMs, 0.95);
    double growth = Percentile(last, 0.5) - Percentile(first, 0.5);
    std::printf("mouth to ear over %zu markers in %d s: p50 %.1f ms, p95 %.1f ms, first %.0f s %.1f ms, last %.0f s %.1f ms\n",
                m.delaysMs.size(), seconds, p50, p95, span, Percentile(first, 0.5), span, Percentile(last, 0.5));
    std::printf("talking client CPU: %.2f %% of a core\n", m.cpuPercent);
    qmbench::Figure("voice_mouth_to_ear_p50_ms", p50);
    qmbench::Figure("voice_mouth_to_ear_p95_ms", p95);
    qmbench::Figure("voice_delay_growth_ms", growth);
    qmbench::Figure("voice_talker_cpu_pct", m.cpuPercent);
    return true;
}

void MeasureCpu(qmtest::MurmurServer& server) {
    const int rounds = qmbench::CountFromEnv("QM_BENCH_ROUNDS", 2);
    const std::string allOff = "echo_cancellation=off\nnoise_suppression=off\nauto_gain=off\nspeech_detection=off\n";
    struct Case {
        const char* name;
        bool answered;
        bool processing;
        std::vector<double> total, client;
    };
    std::vector<Case> cases = {{"voice_processing_talker", false, true, {}, {}},
                               {"voice_unprocessed_talker", false, false, {}, {}},
                               {"voice_processing_call", true, true, {}, {}},
                               {"voice_unprocessed_call", true, false, {}, {}}};
    for (int i = 0; i < rounds; ++i) {
        for (Case& c : cases) {
            TalkerCpu cpu = MeasureTalkerCpu(server, std::string(c.name) + "-" + std::to_string(i),
                                             c.processing ? "" : allOff, c.answered, 20s);
            std::printf("%s: client %.2f %% + sound server %.2f %% (%.2f %% without the client)\n", c.name,
                        cpu.client, cpu.sound, cpu.soundAlone);
            c.client.push_back(cpu.client);
            c.total.push_back(cpu.client < 0 || cpu.share() < 0 ? -1 : cpu.client + cpu.share());
        }
    }
    for (const Case& c : cases) {
        qmbench::Samples((std::string(c.name) + "_cpu_pct").c_str(), c.total);
        qmbench::Samples((std::string(c.name) + "_client_cpu_pct").c_str(), c.client);
    }
}

// Whether QM_BENCH_VOICE_PARTS (a comma-separated list; unset: every part) names `part`.
bool Runs(const std::string& part) {
    const char* parts = std::getenv("QM_BENCH_VOICE_PARTS");
    if (!parts) return true;
    std::istringstream list(parts);
    for (std::string name; std::getline(list, name, ',');)
        if (name == part) return true;
    return false;
}

}  // namespace

int main() {
    qmtest::EnterPrivateNetwork();  // the firewall counts only this program's traffic
    qmtest::MurmurServer server;
    if (!server.Start() || !server.GrantTemporaryChannels()) {
        std::fprintf(stderr, "bench_voice: the voice server does not start\n%s", server.Log().c_str());
        return 1;
    }
    std::printf("load before: %s", qmtest::ReadFile("/proc/loadavg").c_str());
    if (Runs("delay") && !MeasureDelay(server)) return 1;
    if (Runs("upstream")) {
        Upstream up = MeasureUpstream(server);
        std::printf("upstream while talking at 40 kb/s: the module %.0f B/s, the Mumble client %.0f B/s (ratio %.3f)\n",
                    up.module, up.mumble, up.mumble > 0 ? up.module / up.mumble : -1.0);
        qmbench::Figure("voice_upstream_bytes_per_s", up.module);
        qmbench::Figure("voice_upstream_mumble_bytes_per_s", up.mumble);
        if (up.module > 0 && up.mumble > 0) qmbench::Figure("voice_upstream_vs_mumble", up.module / up.mumble);
    }
    if (Runs("listeners")) {
        double delivered = MeasureListeners(server, 20, 20s);
        std::printf("20 listeners: the worst received %.2f %% of the frames\n", delivered);
        qmbench::Figure("voice_20_listeners_min_delivery_pct", delivered);
    }
    if (Runs("cpu")) MeasureCpu(server);
    std::printf("load after: %s", qmtest::ReadFile("/proc/loadavg").c_str());
    return 0;
}

