// A program that plays a test sound into a sink of PULSE_SERVER (48 kHz
// mono, 10 ms at a time) until it is stopped:
//   voice_sound SINK tone HZ DBFS | white DBFS | pink DBFS | raw FILE GAIN_DB
// Levels are RMS; a raw FILE (signed 16-bit mono 48 kHz) plays in a loop.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;

// `seconds` of noise scaled to `dbfs` RMS; pink by Paul Kellet's filter.
std::vector<short> Noise(bool pink, double dbfs, int seconds) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<double> v(static_cast<size_t>(kRate * seconds));
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& x : v) {
        double w = gauss(random);
        if (!pink) {
            x = w;
            continue;
        }
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        x = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
    }
    double sum = 0;
    for (double x : v) sum += x * x;
    double scale = 32768.0 * std::pow(10.0, dbfs / 20.0) / std::sqrt(sum / double(v.size()));
    std::vector<short> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) out[i] = static_cast<short>(std::lround(std::fmax(-32768, std::fmin(32767, v[i] * scale))));
    return out;
}

std::vector<short> Tone(double hz, double dbfs) {
    // Whole cycles in one second, so that the loop is seamless.
    double amplitude = 32768.0 * std::sqrt(2.0) * std::pow(10.0, dbfs / 20.0);
    std::vector<short> out(kRate);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<short>(std::lround(std::fmax(-32768, std::fmin(32767, amplitude * std::sin(2 * M_PI * hz * double(i) / kRate)))));
    return out;
}

std::vector<short> Raw(const std::string& path, double gainDb) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<short> out(bytes.size() / 2);
    double gain = std::pow(10.0, gainDb / 20.0);
    for (size_t i = 0; i < out.size(); ++i) {
        short s = static_cast<short>(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        out[i] = static_cast<short>(std::lround(std::fmax(-32768, std::fmin(32767, s * gain))));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: voice_sound SINK tone HZ DBFS | white DBFS | pink DBFS | raw FILE GAIN_DB\n");
        return 2;
    }
    std::string sink = argv[1], kind = argv[2];
    std::vector<short> sound;
    if (kind == "tone" && argc > 4) sound = Tone(std::atof(argv[3]), std::atof(argv[4]));
    else if (kind == "white" || kind == "pink") sound = Noise(kind == "pink", std::atof(argv[3]), 10);
    else if (kind == "raw" && argc > 4) sound = Raw(argv[3], std::atof(argv[4]));
    if (sound.size() < 480) {
        std::fprintf(stderr, "voice_sound: nothing to play\n");
        return 2;
    }
    pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), 960 * 2 * 2, static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1)};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "voice_sound", PA_STREAM_PLAYBACK, sink == "-" ? nullptr : sink.c_str(),
                                 kind.c_str(), &format, nullptr, &attr, &error);
    if (!s) {
        std::fprintf(stderr, "voice_sound: %s\n", pa_strerror(error));
        return 1;
    }
    std::vector<short> chunk(480);
    for (size_t at = 0;;) {
        for (short& v : chunk) {
            v = sound[at];
            at = (at + 1) % sound.size();
        }
        if (pa_simple_write(s, chunk.data(), chunk.size() * sizeof(short), &error) < 0) break;
    }
    pa_simple_free(s);
    return 0;
}
