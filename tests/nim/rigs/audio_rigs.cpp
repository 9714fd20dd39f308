#include "tests/nim/rigs/audio_rigs.h"

#include <pulse/simple.h>

#include <json/reader.h>
#include <json/value.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "tests/nim/rigs/audio_measure.h"

namespace qmtest {

using namespace std::chrono_literals;

namespace {

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

int Pactl(const std::string& pulse, std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), "/usr/bin/pactl");
    return RunProcess(args, 20s, {{"PULSE_SERVER", pulse}}, output);
}

std::uint32_t Le(const std::string& b, size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

// Mono 16-bit PCM of a WAV file at 48 kHz (linear interpolation from its rate).
std::vector<short> ReadWav48k(const std::string& bytes) {
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return {};
    std::uint32_t rate = 0, channels = 0, bits = 0;
    std::vector<short> pcm;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string id = bytes.substr(at, 4);
        size_t size = Le(bytes, at + 4, 4);
        size_t body = at + 8;
        if (size > bytes.size() - body) size = bytes.size() - body;  // streamed files leave the size open
        if (id == "fmt " && size >= 16) {
            channels = Le(bytes, body + 2, 2);
            rate = Le(bytes, body + 4, 4);
            bits = Le(bytes, body + 14, 2);
        } else if (id == "data" && bits == 16 && channels >= 1) {
            for (size_t i = body; i + 2 * channels <= body + size; i += 2 * channels)
                pcm.push_back(static_cast<short>(Le(bytes, i, 2)));
        }
        at = body + size + (size & 1);
    }
    if (rate == 0 || pcm.empty()) return {};
    std::vector<short> out(static_cast<size_t>(double(pcm.size()) * 48000 / rate));
    for (size_t i = 0; i < out.size(); ++i) {
        double x = double(i) * rate / 48000;
        size_t k = static_cast<size_t>(x);
        double f = x - double(k);
        double a = pcm[std::min(k, pcm.size() - 1)], b = pcm[std::min(k + 1, pcm.size() - 1)];
        out[i] = static_cast<short>(std::lround(a + (b - a) * f));
    }
    return out;
}

}  // namespace

// --- sound player -----------------------------------------------------------------------------

bool SoundPlayer::Start(const std::string& pulse, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {VOICE_SOUND_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return process_.Start(argv, {{"PULSE_SERVER", pulse}}, dir_.File("out.txt"));
}

std::unique_ptr<SoundPlayer> SoundPlayer::Tone(const std::string& pulse, const std::string& sink, double hz,
                                               double dbfs) {
    std::unique_ptr<SoundPlayer> p(new SoundPlayer);
    p->Start(pulse, {sink, "tone", Number(hz), Number(dbfs)});
    return p;
}

std::unique_ptr<SoundPlayer> SoundPlayer::Noise(const std::string& pulse, const std::string& sink, double dbfs,
                                                bool pink) {
    std::unique_ptr<SoundPlayer> p(new SoundPlayer);
    p->Start(pulse, {sink, pink ? "pink" : "white", Number(dbfs)});
    return p;
}

std::unique_ptr<SoundPlayer> SoundPlayer::Samples(const std::string& pulse, const std::string& sink,
                                                  const std::vector<short>& samples, double gainDb) {
    std::unique_ptr<SoundPlayer> p(new SoundPlayer);
    std::string file = p->dir_.File("sound.raw");
    std::string bytes(samples.size() * 2, '\0');
    for (size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = static_cast<char>(samples[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>((samples[i] >> 8) & 0xFF);
    }
    WriteFile(file, bytes);
    p->Start(pulse, {sink, "raw", file, Number(gainDb)});
    return p;
}

SoundPlayer::~SoundPlayer() { process_.Kill(); }

// --- echo loop --------------------------------------------------------------------------------

EchoLoop::EchoLoop(const std::string& pulse, double gainDb, int latencyMs) : pulse_(pulse) {
    std::string module;
    if (Pactl(pulse, {"load-module", "module-loopback", "source=spk.monitor", "sink=micfeed",
                      "latency_msec=" + std::to_string(latencyMs), "source_dont_move=true", "sink_dont_move=true"},
              &module) != 0)
        return;
    while (!module.empty() && std::isspace(static_cast<unsigned char>(module.back()))) module.pop_back();
    module_ = module;
    // The loop's own stream into the feed carries the gain.
    std::string listing;
    Json::Value inputs;
    if (Pactl(pulse, {"--format=json", "list", "sink-inputs"}, &listing) != 0 || !Json::Reader().parse(listing, inputs))
        return;
    bool set = false;
    for (const Json::Value& input : inputs) {
        if (input["owner_module"].asString() == module_)
            set = Pactl(pulse, {"set-sink-input-volume", input["index"].asString(), Number(gainDb) + "dB"}) == 0;
    }
    if (!set) {
        Pactl(pulse, {"unload-module", module_});
        module_.clear();
    }
}

EchoLoop::~EchoLoop() {
    if (!module_.empty()) Pactl(pulse_, {"unload-module", module_});
}

// --- the module's loudspeaker ---------------------------------------------------------------

bool LoudspeakerStreams(const std::string& pulse) {
    std::string listing;
    Json::Value inputs;
    if (Pactl(pulse, {"--format=json", "list", "sink-inputs"}, &listing) != 0 || !Json::Reader().parse(listing, inputs))
        return false;
    for (const Json::Value& input : inputs)
        if (input["properties"]["media.name"].asString() == "qm voice room" && !input["corked"].asBool()) return true;
    return false;
}

bool WaitLoudspeaker(const std::string& pulse, bool streams, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    do {
        if (LoudspeakerStreams(pulse) == streams) return true;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// --- recorder --------------------------------------------------------------------------------

Recorder::Recorder(const std::string& pulse, const std::string& source) {
    pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1), 480 * 2};
    int error = 0;
    pa_simple* stream = pa_simple_new(pulse.c_str(), "voice test", PA_STREAM_RECORD, source.c_str(), "recorder",
                                      &format, nullptr, &attr, &error);
    if (!stream) {
        failed_ = true;
        return;
    }
    thread_ = std::thread([this, stream] { Run(stream); });
}

Recorder::~Recorder() {
    {
        std::lock_guard<std::mutex> l(lock_);
        stop_ = true;
    }
    if (thread_.joinable()) thread_.join();  // a read returns within 10 ms
}

void Recorder::Run(void* s) {
    auto* stream = static_cast<pa_simple*>(s);
    std::vector<short> chunk(480);
    for (;;) {
        int error = 0;
        bool ok = pa_simple_read(stream, chunk.data(), chunk.size() * sizeof(short), &error) == 0;
        std::lock_guard<std::mutex> l(lock_);
        if (ok) samples_.insert(samples_.end(), chunk.begin(), chunk.end());
        failed_ = failed_ || !ok;
        grew_.notify_all();
        if (stop_ || !ok) break;
    }
    pa_simple_free(stream);
}

bool Recorder::recording() const {
    std::lock_guard<std::mutex> l(lock_);
    return !failed_;
}

size_t Recorder::size() const {
    std::lock_guard<std::mutex> l(lock_);
    return samples_.size();
}

std::vector<short> Recorder::Since(size_t from) const {
    std::lock_guard<std::mutex> l(lock_);
    if (from >= samples_.size()) return {};
    return std::vector<short>(samples_.begin() + static_cast<long>(from), samples_.end());
}

std::vector<short> Recorder::Next(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> l(lock_);
    size_t from = samples_.size(), want = static_cast<size_t>(duration.count()) * 48;
    if (!grew_.wait_for(l, duration + 10s, [&] { return failed_ || samples_.size() >= from + want; }) || failed_)
        return {};
    return std::vector<short>(samples_.begin() + static_cast<long>(from), samples_.begin() + static_cast<long>(from + want));
}

bool Recorder::WaitFor(const std::function<bool(const std::vector<short>&)>& holds, std::chrono::milliseconds window,
                       std::chrono::milliseconds timeout) {
    size_t want = static_cast<size_t>(window.count()) * 48;
    size_t checked = 0;
    std::unique_lock<std::mutex> l(lock_);
    return grew_.wait_for(l, timeout, [&] {
        if (failed_ || samples_.size() < want || samples_.size() < checked + 480) return false;
        checked = samples_.size();
        return holds(std::vector<short>(samples_.end() - static_cast<long>(want), samples_.end()));
    });
}

// --- speech -----------------------------------------------------------------------------------

std::vector<short> SpeechSample(const std::string& text, double dbfs, int pauseMs) {
    static std::mutex lock;
    static std::map<std::string, std::vector<short>> rendered;
    std::vector<short> speech;
    {
        std::lock_guard<std::mutex> l(lock);
        auto it = rendered.find(text);
        if (it == rendered.end()) {
            TempDir dir;
            std::string wav = dir.File("speech.wav");
            if (RunProcess({"/usr/bin/espeak-ng", "-v", "en", "-s", "150", "-w", wav, text}, 30s) != 0) return {};
            it = rendered.emplace(text, ReadWav48k(ReadFile(wav))).first;
        }
        speech = it->second;
    }
    if (speech.empty()) return {};
    double gain = std::pow(10.0, (dbfs - ActiveLevelDbfs(speech)) / 20.0);
    for (short& s : speech) s = static_cast<short>(std::lround(std::fmax(-32768, std::fmin(32767, s * gain))));
    speech.resize(speech.size() + static_cast<size_t>(pauseMs) * 48, 0);
    return speech;
}

}  // namespace qmtest
