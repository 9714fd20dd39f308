// The echo of what the loudspeaker played, taken out of the microphone, in
// 10 ms blocks and three stages: speexdsp's adaptive filter (a multi-delay
// block filter over a 100 ms window) models the path from loudspeaker to
// microphone and subtracts its estimate, deep once it has learnt the path;
// speexdsp's preprocessor suppresses per frequency what the filter says it
// missed; WebRTC's echo canceller (its own filter and a suppressor driven by
// how alike the reference and what is left are) catches what the first two
// miss while the path changes under them (an underrun, a busy machine), at
// the price of a few dB of the user's voice while both talk. Noise is left
// alone here (the noise suppressor deals with it, only for speech).
//
// Real-time safe: everything is made by the constructor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct SpeexEchoState_;
struct SpeexPreprocessState_;
namespace webrtc {
class AudioProcessing;
}

namespace qmnim::audio {

class EchoCanceller {
public:
    static constexpr size_t kBlock = 480;  // 10 ms
    static constexpr size_t kTail = 4800;  // the first filter's window: 100 ms
    // Where the echo is expected to lag its reference, and the part of the
    // window it may wander in before the reference must be moved.
    static constexpr std::int64_t kLead = 720;                         // 15 ms
    static constexpr std::int64_t kEchoFrom = 240, kEchoUntil = 2400;  // 5 to 50 ms

    EchoCanceller();
    ~EchoCanceller();
    EchoCanceller(const EchoCanceller&) = delete;
    EchoCanceller& operator=(const EchoCanceller&) = delete;

    bool ok() const { return echo_ && residual_ && apm_; }
    // One block of the microphone, in place, and the reference block for it.
    void Process(std::int16_t* microphone, const std::int16_t* reference);
    // Forgets the echo path (the reference moved: the old model is wrong).
    void Reset();

private:
    SpeexEchoState_* echo_ = nullptr;
    SpeexPreprocessState_* residual_ = nullptr;
    std::unique_ptr<webrtc::AudioProcessing> apm_;
    std::array<std::int16_t, kBlock> out_{};
    std::array<float, kBlock> microphone_{}, reference_{};
};

}  // namespace qmnim::audio
