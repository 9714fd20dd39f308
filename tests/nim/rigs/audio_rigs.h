// Sound rigs on a private PulseAudio server (see PulseServer): test sounds
// played into a sink (tones, white or pink noise at a level, speech), and
// the echo path of a laptop: what the loudspeaker plays comes back into the
// microphone, quieter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace qmtest {

// A program playing a sound into `sink` of the server at `pulse` (48 kHz
// mono, in a loop) until the object goes. "micfeed" is what the virtual
// microphone hears, "spk" the virtual loudspeaker.
class SoundPlayer {
public:
    // A sine of `hz` at `dbfs` RMS (a full-scale sine: -3 dBFS).
    static std::unique_ptr<SoundPlayer> Tone(const std::string& pulse, const std::string& sink, double hz, double dbfs);
    // Noise at `dbfs` RMS: white, or pink (falling 3 dB an octave, as rooms and fans sound).
    static std::unique_ptr<SoundPlayer> Noise(const std::string& pulse, const std::string& sink, double dbfs,
                                              bool pink = false);
    // `samples` (48 kHz mono) with `gainDb` applied.
    static std::unique_ptr<SoundPlayer> Samples(const std::string& pulse, const std::string& sink,
                                                const std::vector<short>& samples, double gainDb = 0);
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;
    bool running() { return process_.Running(); }

private:
    SoundPlayer() = default;
    bool Start(const std::string& pulse, const std::vector<std::string>& args);
    TempDir dir_;
    ChildProcess process_;
};

// The loudspeaker heard by the microphone: the sound server copies the
// virtual loudspeaker's monitor into the microphone's feed at `gainDb`, with
// about `latencyMs` of delay, until the object goes.
class EchoLoop {
public:
    explicit EchoLoop(const std::string& pulse, double gainDb = -10, int latencyMs = 30);
    ~EchoLoop();
    EchoLoop(const EchoLoop&) = delete;
    EchoLoop& operator=(const EchoLoop&) = delete;
    bool active() const { return !module_.empty(); }

private:
    std::string pulse_;
    std::string module_;
};

// Records a source of the server at `pulse` (48 kHz mono) from construction
// on, through one stream in 10 ms fragments: cheaper and steadier than a
// recording per question (an idle sound server answers a new stream's first
// read only after up to two seconds).
class Recorder {
public:
    Recorder(const std::string& pulse, const std::string& source);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    bool recording() const;
    // Samples recorded so far.
    size_t size() const;
    // The samples from `from` on.
    std::vector<short> Since(size_t from) const;
    // The next `duration` of sound; empty when it did not come within `duration` + 10 s.
    std::vector<short> Next(std::chrono::milliseconds duration);
    // Waits until `holds` is true of the last `window` of sound; bounded by `timeout`.
    bool WaitFor(const std::function<bool(const std::vector<short>&)>& holds, std::chrono::milliseconds window,
                 std::chrono::milliseconds timeout);

private:
    void Run(void* stream);
    mutable std::mutex lock_;
    mutable std::condition_variable grew_;
    std::vector<short> samples_;
    bool stop_ = false, failed_ = false;
    std::thread thread_;
};

// Whether the voice module's loudspeaker has a running stream at the sound server `pulse`.
bool LoudspeakerStreams(const std::string& pulse);
// Waits until the loudspeaker streams (or does not); bounded.
bool WaitLoudspeaker(const std::string& pulse, bool streams, std::chrono::milliseconds timeout);

// `text` spoken by espeak-ng (English, 48 kHz mono), scaled so that its
// active level (see ActiveLevelDbfs) is `dbfs`, followed by `pauseMs` of silence.
// Empty when espeak-ng failed. Rendered into a temporary folder, never kept.
std::vector<short> SpeechSample(const std::string& text, double dbfs = -20, int pauseMs = 0);

}  // namespace qmtest
