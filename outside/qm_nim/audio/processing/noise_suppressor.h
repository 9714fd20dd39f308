// Stationary noise out of speech, in 10 ms blocks, by WebRTC's audio
// processing (a high-pass filter for rumble and hum, then its noise
// suppressor), and the suppressor's probability that a block holds speech,
// which the speech detector uses. Only for speech: music or a steady tone
// would be suppressed as noise. Without suppression it only measures.
//
// Real-time safe: the processing object is made by the constructor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

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
    const bool suppress_;
    std::array<float, kBlock> buffer_{};
};

}  // namespace qmnim::audio
