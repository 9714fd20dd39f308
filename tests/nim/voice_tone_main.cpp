// A program that plays a sine tone: voice_tone SINK HZ SECONDS [AMPLITUDE]
// (48 kHz mono into the sink of PULSE_SERVER; SINK "-" is the default). The
// tests copy it under other names to have two different programs playing.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: voice_tone SINK HZ SECONDS [AMPLITUDE]\n");
        return 2;
    }
    std::string sink = argv[1];
    double hz = std::atof(argv[2]);
    double seconds = std::atof(argv[3]);
    double amplitude = argc > 4 ? std::atof(argv[4]) : 0.3;
    pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
    pa_buffer_attr attr{static_cast<uint32_t>(-1), 960 * 2 * 2, static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1)};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "voice_tone", PA_STREAM_PLAYBACK, sink == "-" ? nullptr : sink.c_str(),
                                 "tone", &format, nullptr, &attr, &error);
    if (!s) {
        std::fprintf(stderr, "voice_tone: %s\n", pa_strerror(error));
        return 1;
    }
    std::vector<short> chunk(480);
    long total = seconds < 0 ? -1 : static_cast<long>(seconds * 48000);
    double phase = 0, step = 2 * M_PI * hz / 48000.0;
    for (long done = 0; total < 0 || done < total; done += static_cast<long>(chunk.size())) {
        for (short& v : chunk) {
            v = static_cast<short>(std::lround(std::sin(phase) * amplitude * 32767));
            phase += step;
            if (phase > 2 * M_PI) phase -= 2 * M_PI;
        }
        if (pa_simple_write(s, chunk.data(), chunk.size() * sizeof(short), &error) < 0) break;
    }
    pa_simple_drain(s, &error);
    pa_simple_free(s);
    return 0;
}
