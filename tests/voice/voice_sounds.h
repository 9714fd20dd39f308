// Sounds for the voice tests, made at run time: speech spoken by espeak-ng,
// white or pink noise, the measurements the processing tests need, a
// program that plays them and an echo path from loudspeaker to microphone on
// a test's sound server. All 48 kHz mono.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace qmtest {

// `text` spoken by espeak-ng's `voice` (e.g. "en-us", "en-gb+f3"), scaled
// to `dbfs` RMS over the whole clip; empty when espeak-ng fails.
std::vector<short> Speech(const std::string& text, const std::string& voice, double dbfs);
// Stationary noise at `dbfs` RMS.
std::vector<short> Noise(size_t samples, double dbfs, bool pink, unsigned seed);
// Adds `what` times `gain` into `into` from `at` on (as far as `into` reaches), clipping.
void MixAt(std::vector<short>& into, const std::vector<short>& what, size_t at, double gain = 1.0);
// RMS loudness of samples [from, to) in dBFS (-200 for digital silence).
double LoudnessOf(const std::vector<short>& samples, size_t from, size_t to);
// Samples as raw 16-bit little-endian bytes, for a program that plays them.
std::string RawBytes(const std::vector<short>& samples);

// A program playing `samples` over and over into `sink` of the PulseAudio
// server at `server` (e.g. "micfeed": the virtual microphone hears it)
// until the object goes.
class SoundPlayer {
public:
    SoundPlayer(const std::string& server, const std::string& sink, const std::vector<short>& samples);
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

private:
    TempDir dir_;
    ChildProcess process_;
};

// What the virtual loudspeaker ("spk") plays reaches the virtual microphone
// `gain` (linear) weaker through a loopback of the sound server with a
// latency of its own (`latencyMs`), which the client's stream latencies do
// not show: a laptop's speakers heard by its microphone, worst case.
class EchoLoop {
public:
    EchoLoop(const std::string& server, double gain, int latencyMs);
    ~EchoLoop();
    EchoLoop(const EchoLoop&) = delete;
    EchoLoop& operator=(const EchoLoop&) = delete;
    // Empty when the loop is in place.
    const std::string& error() const { return error_; }

private:
    std::string server_;
    std::string module_;
    std::string error_;
};

}  // namespace qmtest
