#include "tests/voice/voice_sounds.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <iomanip>
#include <sstream>

#include "tests/support/process.h"

namespace qmtest {
namespace {

void ScaleTo(std::vector<short>& samples, double dbfs) {
    double now = LoudnessOf(samples, 0, samples.size());
    if (now <= -200) return;
    double gain = std::pow(10.0, (dbfs - now) / 20.0);
    for (short& s : samples) s = static_cast<short>(std::clamp(std::lround(s * gain), -32768L, 32767L));
}

std::uint32_t Le32(const std::string& b, size_t at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

}  // namespace

std::vector<short> Speech(const std::string& text, const std::string& voice, double dbfs) {
    TempDir dir;
    std::string wav = dir.File("speech.wav");
    if (RunProcess({"/usr/bin/espeak-ng", "-v", voice, "-s", "150", "-w", wav, text}, std::chrono::seconds(60)) != 0)
        return {};
    std::string bytes = ReadFile(wav);
    // RIFF chunks: the format (rate) and the data, 16-bit mono as espeak-ng writes it.
    std::uint32_t rate = 0;
    std::vector<short> in;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string id = bytes.substr(at, 4);
        std::uint32_t size = Le32(bytes, at + 4);
        if (id == "fmt " && at + 16 <= bytes.size()) rate = Le32(bytes, at + 12);
        if (id == "data") {
            size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(bytes.size() - at - 8));
            in.resize(size / 2);
            std::memcpy(in.data(), bytes.data() + at + 8, in.size() * 2);
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (rate == 0 || in.empty()) return {};
    // To 48 kHz by linear interpolation: the speech has nothing near the new images.
    std::vector<short> out(static_cast<size_t>(double(in.size()) * 48000.0 / rate));
    for (size_t i = 0; i < out.size(); ++i) {
        double pos = double(i) * rate / 48000.0;
        size_t k = static_cast<size_t>(pos);
        double f = pos - double(k);
        double a = in[std::min(k, in.size() - 1)], b = in[std::min(k + 1, in.size() - 1)];
        out[i] = static_cast<short>(std::lround(a + (b - a) * f));
    }
    ScaleTo(out, dbfs);
    return out;
}

std::vector<short> Noise(size_t samples, double dbfs, bool pink, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0, 1);
    std::vector<double> v(samples);
    double b0 = 0, b1 = 0, b2 = 0;
    for (double& x : v) {
        double w = normal(random);
        if (!pink) {
            x = w;
            continue;
        }
        // Three poles spread over the band: about -3 dB an octave.
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        x = b0 + b1 + b2 + w * 0.1848;
    }
    double sum = 0;
    for (double x : v) sum += x * x;
    double gain = 32768.0 * std::pow(10.0, dbfs / 20.0) / std::sqrt(sum / double(std::max<size_t>(samples, 1)));
    std::vector<short> out(samples);
    for (size_t i = 0; i < samples; ++i) out[i] = static_cast<short>(std::clamp(std::lround(v[i] * gain), -32768L, 32767L));
    return out;
}

void MixAt(std::vector<short>& into, const std::vector<short>& what, size_t at, double gain) {
    for (size_t i = 0; i < what.size() && at + i < into.size(); ++i)
        into[at + i] = static_cast<short>(std::clamp(std::lround(into[at + i] + what[i] * gain), -32768L, 32767L));
}

double LoudnessOf(const std::vector<short>& samples, size_t from, size_t to) {
    to = std::min(to, samples.size());
    if (from >= to) return -200;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    double rms = std::sqrt(sum / double(to - from)) / 32768.0;
    return rms > 0 ? 20 * std::log10(rms) : -200;
}

std::string RawBytes(const std::vector<short>& samples) {
    std::string bytes(samples.size() * 2, '\0');
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

SoundPlayer::SoundPlayer(const std::string& server, const std::string& sink, const std::vector<short>& samples) {
    WriteFile(dir_.File("sound.raw"), RawBytes(samples));
    process_.Start({VOICE_TONE_EXE, sink, "file:" + dir_.File("sound.raw"), "-1"}, {{"PULSE_SERVER", server}},
                   dir_.File("out.txt"));
}

SoundPlayer::~SoundPlayer() { process_.Kill(); }

namespace {

// pactl against the server at `server` only.
int Pactl(const std::string& server, const std::vector<std::string>& args, std::string* output = nullptr) {
    std::vector<std::string> argv = {"/usr/bin/pactl", "-s", server};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, std::chrono::seconds(20), {}, output);
}

}  // namespace

EchoLoop::EchoLoop(const std::string& server, double gain, int latencyMs) : server_(server) {
    std::string out;
    if (Pactl(server, {"load-module", "module-loopback", "source=spk.monitor", "sink=micfeed",
                       "latency_msec=" + std::to_string(latencyMs), "adjust_time=0", "source_dont_move=true", "sink_dont_move=true"},
              &out) != 0) {
        error_ = "the loopback does not load: " + out;
        return;
    }
    module_ = out.substr(0, out.find_first_not_of("0123456789"));
    // Its stream into the microphone's sink is the only one the loopback module made.
    if (Pactl(server, {"list", "short", "sink-inputs"}, &out) != 0) {
        error_ = "no stream list: " + out;
        return;
    }
    std::istringstream lines(out);
    std::string line, stream;
    while (std::getline(lines, line))
        if (line.find("module-loopback") != std::string::npos) stream = line.substr(0, line.find('\t'));
    std::ostringstream volume;
    volume << std::fixed << std::setprecision(4) << gain;  // with a point, pactl reads a linear factor
    if (stream.empty() || Pactl(server, {"set-sink-input-volume", stream, volume.str()}, &out) != 0)
        error_ = "the loopback's volume cannot be set: " + out;
}

EchoLoop::~EchoLoop() {
    if (!module_.empty()) Pactl(server_, {"unload-module", module_});
}

}  // namespace qmtest
