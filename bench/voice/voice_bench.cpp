// Voice chat on loopback through murmurd, measured:
// - mouth to ear: markers played into A's virtual microphone, found in what
//   B's virtual loudspeaker plays (A and B are peer processes with sound
//   servers of their own); p50, p95 and the drift between the first and the
//   last ten seconds of a 60 s call;
// - CPU of the talking client A over that call (% of one core);
// - 20 listeners in this process and one talker: the share of the talker's
//   frames the worst listener received;
// - CPU of a client talking in a speech room (noise suppressor, gain and
//   speech detector at work), and of one that talks while it hears the
//   other member (the echo canceller too), each with its sound server's
//   share, next to the same with every stage of the microphone's processing
//   off, interleaved.
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/figures.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/thread_priority.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/session/voice_session.h"
#include "tests/voice/rigs/audio_rigs.h"
#include "tests/voice/voice_peer.h"
#include "tests/voice/voice_servers.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 48000;
constexpr double kMarkerHz = 1000, kBedHz = 200;
constexpr size_t kMarkerSamples = 30 * 48;
constexpr size_t kMarkerEvery = kRate / 2;  // two markers a second

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

// Energy of `hz` in a block (Goertzel), relative to the block's length.
double ToneEnergy(const short* s, size_t n, double hz) {
    double w = 2 * std::cos(2 * M_PI * hz / kRate), a = 0, b = 0;
    for (size_t i = 0; i < n; ++i) {
        double c = s[i] / 32768.0 + w * a - b;
        b = a;
        a = c;
    }
    return (a * a + b * b - w * a * b) / double(n * n);
}

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

MouthToEar MeasureMouthToEar(qmtest::MurmurServer& server, std::chrono::seconds length) {
    MouthToEar out;
    qmtest::PulseServer soundA, soundB;
    if (!soundA.Start() || !soundB.Start()) return out;
    std::string voice = "[voice]\nhost=" + server.host() + "\nfingerprint=" + server.fingerprint() + "\n";
    qmtest::VoicePeer a("A", soundA.address(), voice), b("B", soundB.address(), voice);
    if (!a.Start() || !b.Start() || !a.Login("talker", qmtest::MurmurServer::kServerPassword) ||
        !b.Login("listener", qmtest::MurmurServer::kServerPassword))
        return out;
    a.Join("latency");
    b.Join("latency");
    a.Do("mic - 0");
    b.Do("play -");

    std::mutex lock;
    std::vector<double> emitted, heard;
    std::atomic<bool> run{true};
    Clock::time_point start = Clock::now();

    std::thread speaker([&] {
        qmnim::audio::RaiseThisThreadForAudio();  // the instrument must not wait for the busy machine
        pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
        pa_buffer_attr attr{static_cast<uint32_t>(-1), 480 * 2 * 2, static_cast<uint32_t>(-1), 240 * 2,
                            static_cast<uint32_t>(-1)};
        int error = 0;
        pa_simple* s = pa_simple_new(soundA.address().c_str(), "bench", PA_STREAM_PLAYBACK, "micfeed", "markers",
                                     &format, nullptr, &attr, &error);
        if (!s) return;
        std::vector<short> chunk(240);
        size_t n = 0;
        while (run) {
            long markerAt = -1;
            for (size_t i = 0; i < chunk.size(); ++i, ++n) {
                size_t pos = n % kMarkerEvery;
                double v = 0.03 * std::sin(2 * M_PI * kBedHz * double(n) / kRate);  // keeps the talker talking
                if (pos < kMarkerSamples) v += 0.4 * std::sin(2 * M_PI * kMarkerHz * double(n) / kRate);
                if (pos == 0) markerAt = static_cast<long>(i);
                chunk[i] = static_cast<short>(v * 32767);
            }
            pa_simple_write(s, chunk.data(), chunk.size() * 2, &error);
            if (markerAt >= 0) {
                // The last sample written now plays after the stream's latency.
                double latency = double(pa_simple_get_latency(s, &error)) / 1e6;
                double t = Seconds(Clock::now()) + latency - double(chunk.size() - static_cast<size_t>(markerAt)) / kRate;
                std::lock_guard<std::mutex> l(lock);
                emitted.push_back(t);
            }
        }
        pa_simple_free(s);
    });

    std::thread ear([&] {
        qmnim::audio::RaiseThisThreadForAudio();  // the instrument must not wait for the busy machine
        pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
        pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                            static_cast<uint32_t>(-1), 120 * 2};
        int error = 0;
        pa_simple* s = pa_simple_new(soundB.address().c_str(), "bench", PA_STREAM_RECORD, "spk.monitor", "ear",
                                     &format, nullptr, &attr, &error);
        if (!s) return;
        std::vector<short> block(120);  // 2.5 ms
        bool inMarker = false;
        int quiet = 0;
        while (run) {
            if (pa_simple_read(s, block.data(), block.size() * 2, &error) < 0) break;
            double latency = double(pa_simple_get_latency(s, &error)) / 1e6;
            double end = Seconds(Clock::now()) - latency;  // when the block's last sample was played
            bool loud = ToneEnergy(block.data(), block.size(), kMarkerHz) > 0.005;
            if (loud && !inMarker) {
                std::lock_guard<std::mutex> l(lock);
                heard.push_back(end - double(block.size()) / kRate);
                inMarker = true;
                quiet = 0;
            } else if (!loud && inMarker && ++quiet > 20) {
                inMarker = false;
            }
        }
        pa_simple_free(s);
    });

    std::this_thread::sleep_for(3s);  // the call settles before the minute counts
    long cpu0 = CpuTicks(a.pid());
    auto measureFrom = Clock::now();
    std::this_thread::sleep_for(length);
    long cpu1 = CpuTicks(a.pid());
    double wall = std::chrono::duration<double>(Clock::now() - measureFrom).count();
    run = false;
    speaker.join();
    ear.join();
    out.cpuPercent = 100.0 * double(cpu1 - cpu0) / double(sysconf(_SC_CLK_TCK)) / wall;
    double from = Seconds(measureFrom);
    for (double e : emitted) {
        if (e < from) continue;
        for (double h : heard) {
            if (h > e && h - e < 0.4) {
                out.delaysMs.push_back((h - e) * 1000);
                out.at.push_back(e - Seconds(start));
                break;
            }
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
    std::vector<std::unique_ptr<Counter>> counters;
    std::vector<std::unique_ptr<qmnim::session::VoiceSession>> sessions;
    for (int i = 0; i < listeners; ++i) {
        counters.push_back(std::make_unique<Counter>());
        sessions.push_back(std::make_unique<qmnim::session::VoiceSession>(options, counters.back().get()));
        if (!sessions.back()->Login("listener" + std::to_string(i), qmtest::MurmurServer::kServerPassword, 5s))
            return -1;
        sessions.back()->Join("crowd");
    }
    Counter talkerEvents;
    qmnim::session::VoiceSession talker(options, &talkerEvents);
    if (!talker.Login("talker", qmtest::MurmurServer::kServerPassword, 5s)) return -1;
    talker.Join("crowd");
    auto until = Clock::now() + 10s;
    while (Clock::now() < until && !talkerEvents.joined) std::this_thread::sleep_for(10ms);
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

struct TalkerCpu {
    double client = -1, sound = -1;  // % of a core
};

// A talks in a speech room for `length` while B listens, or (`answered`)
// both talk at the same time, each hearing the other; the CPU of A and of
// A's sound server (which also plays the test's speech into A's virtual
// microphone). `switches`: [voice] lines for both.
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
    std::string voice = "[voice]\nhost=" + server.host() + "\nfingerprint=" + server.fingerprint() + "\n" + switches;
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
    long client0 = CpuTicks(a.pid()), sound0 = CpuTicks(soundA.pid());
    auto from = Clock::now();
    std::this_thread::sleep_for(length);
    long client1 = CpuTicks(a.pid()), sound1 = CpuTicks(soundA.pid());
    double wall = std::chrono::duration<double>(Clock::now() - from).count();
    double tick = double(sysconf(_SC_CLK_TCK));
    out.client = 100.0 * double(client1 - client0) / tick / wall;
    out.sound = 100.0 * double(sound1 - sound0) / tick / wall;
    return out;
}

}  // namespace

int main() {
    qmtest::MurmurServer server;
    if (!server.Start() || !server.GrantTemporaryChannels()) {
        std::fprintf(stderr, "bench_voice: the voice server does not start\n%s", server.Log().c_str());
        return 1;
    }
    MouthToEar m = MeasureMouthToEar(server, 60s);
    if (m.delaysMs.empty()) {
        std::fprintf(stderr, "bench_voice: no marker came through\n");
        return 1;
    }
    std::vector<double> first, last;
    double t0 = m.at.front(), t1 = m.at.back();
    for (size_t i = 0; i < m.delaysMs.size(); ++i) {
        if (m.at[i] < t0 + 10) first.push_back(m.delaysMs[i]);
        if (m.at[i] > t1 - 10) last.push_back(m.delaysMs[i]);
    }
    double p50 = Percentile(m.delaysMs, 0.5), p95 = Percentile(m.delaysMs, 0.95);
    double drift = Percentile(last, 0.5) - Percentile(first, 0.5);
    std::printf("mouth to ear over %zu markers: p50 %.1f ms, p95 %.1f ms, first 10 s %.1f ms, last 10 s %.1f ms\n",
                m.delaysMs.size(), p50, p95, Percentile(first, 0.5), Percentile(last, 0.5));
    std::printf("talking client CPU: %.2f %% of a core\n", m.cpuPercent);
    qmbench::Figure("voice_mouth_to_ear_p50_ms", p50);
    qmbench::Figure("voice_mouth_to_ear_p95_ms", p95);
    qmbench::Figure("voice_drift_60s_ms", drift);
    qmbench::Figure("voice_talker_cpu_pct", m.cpuPercent);
    double delivered = MeasureListeners(server, 20, 20s);
    std::printf("20 listeners: the worst received %.2f %% of the frames\n", delivered);
    qmbench::Figure("voice_20_listeners_min_delivery_pct", delivered);

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
            std::printf("%s: client %.2f %% + sound server %.2f %%\n", c.name, cpu.client, cpu.sound);
            c.client.push_back(cpu.client);
            c.total.push_back(cpu.client < 0 || cpu.sound < 0 ? -1 : cpu.client + cpu.sound);
        }
    }
    for (const Case& c : cases) {
        qmbench::Samples((std::string(c.name) + "_cpu_pct").c_str(), c.total);
        qmbench::Samples((std::string(c.name) + "_client_cpu_pct").c_str(), c.client);
    }
    return 0;
}
