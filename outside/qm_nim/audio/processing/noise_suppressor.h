// Stationary noise out of speech, in 10 ms blocks (LowDelayDenoiser), and
// the probability that a block holds speech, which the speech detector uses:
// WebRTC's noise suppressor measures it on a copy at 16 kHz (its own output
// would come 7 ms late, and at 48 kHz it splits the bands first). Only for
// speech: music or a steady tone would be suppressed as noise. Without
// suppression it only measures.
//
// Real-time safe: everything is made by the constructor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "outside/qm_nim/audio/processing/low_delay_denoiser.h"

namespace webrtc {
class AudioProcessing;
}

namespace qmnim::audio {

class NoiseSuppressor {
public:
    static constexpr size_t kBlock = 480;  // 10 ms

    // `suppress`: the block is changed; otherwise only the probability is measured (on a copy).
    explicit NoiseSuppressor(bool suppress);
    ~NoiseSuppressor();
    NoiseSuppressor(const NoiseSuppressor&) = delete;
    NoiseSuppressor& operator=(const NoiseSuppressor&) = delete;

    bool ok() const { return apm_ != nullptr; }
    // One block (in place when suppressing); the probability (0..1) that it holds speech.
    float Process(std::int16_t* block);

private:
    std::unique_ptr<webrtc::AudioProcessing> apm_;
    static constexpr int kMeasureRate = 16000;
    static constexpr size_t kMeasured = kBlock / 3;
    std::array<float, kMeasured> buffer_{};
    std::optional<LowDelayDenoiser> denoiser_;  // only when suppressing
};

}  // namespace qmnim::audio
