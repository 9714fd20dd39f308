// What the echo canceller leaves of the loudspeaker's echo, brought down
// where the microphone carries nothing else. Once it has learnt the path the
// canceller takes 20 dB and more out of an echo and leaves the user's voice
// nearly whole; what is left of a -30 dBFS echo (about -50 dBFS) would still
// be sent in a music room, and in a speech room the detector could take it
// for speech and the gain level it up to a voice. So a block the canceller
// took much out of was echo, and is cut by kCutDb; a block it left mostly
// whole (the user talks, alone or over the echo) passes unchanged. The gain
// moves in a ramp over a block, so the switch makes no click.
//
// Real-time safe: no state beyond the last gain.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qmnim::audio {

class ResidualEchoGate {
public:
    // Taken out by the canceller, this much says the block was echo (12 dB).
    static constexpr double kEchoOnlyRatio = 3.98;
    // An echo block is cut by 40 dB.
    static constexpr float kCut = 0.01f;
    // Below this RMS before the canceller (about -70 dBFS) nothing is judged.
    static constexpr double kQuietRms = 10.0;

    // One block in place; `before` and `after`: its RMS before and after the
    // canceller. Whether it was cut as echo.
    bool Process(std::int16_t* block, size_t count, double before, double after) {
        const bool echo = before >= kQuietRms && after * kEchoOnlyRatio < before;
        const float target = echo ? kCut : 1.0f;
        for (size_t i = 0; i < count; ++i) {
            const float g = gain_ + (target - gain_) * float(i + 1) / float(count);
            block[i] = static_cast<std::int16_t>(std::lround(float(block[i]) * g));
        }
        gain_ = target;
        return echo;
    }
    void Reset() { gain_ = 1.0f; }

private:
    float gain_ = 1.0f;
};

}  // namespace qmnim::audio
