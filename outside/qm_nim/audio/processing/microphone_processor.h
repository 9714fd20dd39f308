// The microphone's processing, one 10 ms block at a time, in the order the
// sound needs it: the loudspeaker's echo out first (while the microphone
// still holds it as it was played), then, for speech only, the noise, the
// gain and the speech detector. Music and a shared program's sound are
// never treated as speech: the noise suppressor would take a steady tone
// for noise.
//
// Thread rules: OnPlayed from any thread; everything else from one thread
// at a time (the transmitter's lock). Process never allocates.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "outside/qm_nim/audio/processing/auto_gain.h"
#include "outside/qm_nim/audio/processing/echo_reference.h"
#include "outside/qm_nim/audio/processing/processing_settings.h"
#include "outside/qm_nim/audio/processing/residual_echo_gate.h"
#include "outside/qm_nim/audio/processing/speech_gate.h"

namespace qmnim::audio {

class DelayEstimator;
class EchoCanceller;
class NoiseSuppressor;

class MicrophoneProcessor {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kBlock = 480;  // 10 ms
    // Below this level (about -60 dBFS, before the gain) a block is no speech whatever its probability:
    // what is left of an echo in a quiet room must not open the detector.
    static constexpr double kSpeechFloorRms = 33.0;
    // The noise suppressor has not measured the noise yet: its first blocks are no speech.
    static constexpr size_t kWarmUpBlocks = 25;

    explicit MicrophoneProcessor(const ProcessingSettings& settings);
    ~MicrophoneProcessor();
    MicrophoneProcessor(const MicrophoneProcessor&) = delete;
    MicrophoneProcessor& operator=(const MicrophoneProcessor&) = delete;

    const ProcessingSettings& settings() const { return settings_; }
    // What the loudspeaker played; the first sample is heard at `firstPlaysAt`.
    void OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt);
    // Speech (noise, gain and detection apply) or music (echo only).
    void SetSpeech(bool speech);
    // Off while the user hears their own microphone: what plays then is no echo to remove.
    void SetEchoCancellation(bool on);
    // Whether Process decides what is speech (a speech room with the detector on).
    bool detects() const;
    // One block in place; `capturedAt`: when its first sample was heard.
    // Whether it holds speech (always true when not detecting).
    bool Process(std::int16_t* block, Clock::time_point capturedAt);

    // The delay the echo path was found to add to the sound server's latencies (48 kHz samples).
    std::int64_t echoPathDelay() const { return reference_.extraDelay(); }
    // What the canceller went through since the microphone started: whether
    // it heard the loudspeaker at all, and its reference's slips.
    bool echoHeard() const { return echoHeard_; }
    EchoReference::Slips echoSlips() const { return reference_.slips(); }

private:
    void CancelEcho(std::int16_t* block, Clock::time_point capturedAt);

    const ProcessingSettings settings_;
    EchoReference reference_;
    std::unique_ptr<EchoCanceller> canceller_;
    std::unique_ptr<DelayEstimator> estimator_;
    ResidualEchoGate residual_;
    std::unique_ptr<NoiseSuppressor> noise_;  // also when only its speech probability is wanted
    SpeechGate gate_;
    size_t heardBlocks_ = 0;  // by the noise suppressor
    AutoGain gain_;
    bool speech_ = false;
    bool echoOn_ = true;
    bool echoHeard_ = false;  // the loudspeaker played something: the canceller runs
    std::array<std::int16_t, kBlock> played_{};
};

}  // namespace qmnim::audio
