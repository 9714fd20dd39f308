// What the echo canceller leaves of the loudspeaker's echo, brought down
// where the microphone carries nothing else. Once it has learnt the path the
// canceller takes 20 dB and more out of an echo and leaves the user's voice
// nearly whole; what is left of a -30 dBFS echo would still be sent in a
// music room, and in a speech room the detector could take it for speech and
// the gain level it up to a voice. A block is echo, and cut by 40 dB, when
// the canceller took much out of it, or when it is no louder than the echo
// of what just played (the loudspeaker's level less the path's loss, as
// learnt from the blocks of the first kind): the filter leaks for a moment
// whenever the path moves (a busy machine, a clock that drifts), and those
// moments must not reach the far end. A block well above the echo (the user
// talks, alone or over the far end) passes unchanged. The gain moves in a
// ramp over a block, so the switch makes no click.
//
// Real-time safe: fixed state only.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qmnim::audio {

class ResidualEchoGate {
public:
    // Taken out by the canceller, this much (12 dB) says the block was echo.
    static constexpr double kEchoOnlyRatio = 3.98;
    // Louder than the echo expected by this much (6 dB), a block holds more than echo.
    static constexpr double kAboveEchoRatio = 2.0;
    // An echo block is cut by 40 dB.
    static constexpr float kCut = 0.01f;
    // Below this RMS before the canceller (about -70 dBFS) nothing is judged.
    static constexpr double kQuietRms = 10.0;
    // The echo of a block played this long ago (10 ms blocks) may still be heard.
    static constexpr size_t kEchoBlocks = 12;
    // The loudspeaker played this long (10 ms blocks) without a block that was
    // surely echo: there is no echo path any more (a headset now), and the
    // loss learnt must not cut the user.
    static constexpr int kForgetBlocks = 500;

    // One block in place; `played`: the RMS of the reference block the
    // canceller was given with it; `before` and `after`: the block's RMS
    // before and after the canceller. Whether it was cut as echo.
    bool Process(std::int16_t* block, size_t count, double played, double before, double after) {
        recent_[next_] = played;
        next_ = (next_ + 1) % recent_.size();
        const double loudest = *std::max_element(recent_.begin(), recent_.end());
        bool echo = false;
        if (loudest >= kQuietRms && ++sinceEcho_ > kForgetBlocks) pathLoss_ = 0;
        if (before >= kQuietRms && loudest >= kQuietRms) {
            if (after * kEchoOnlyRatio < before) {
                echo = true;
                sinceEcho_ = 0;
                // The path's loss, learnt slowly from blocks that were surely echo.
                const double loss = loudest / before;
                pathLoss_ = pathLoss_ > 0 ? pathLoss_ * 0.95 + loss * 0.05 : loss;
            } else if (pathLoss_ > 0) {
                echo = before <= loudest / pathLoss_ * kAboveEchoRatio;
            }
        }
        const float target = echo ? kCut : 1.0f;
        for (size_t i = 0; i < count; ++i) {
            const float g = gain_ + (target - gain_) * float(i + 1) / float(count);
            block[i] = static_cast<std::int16_t>(std::lround(float(block[i]) * g));
        }
        gain_ = target;
        return echo;
    }
    // The canceller starts over (the echo moved in time): while it learns
    // the path again, the path's loss, which did not change, keeps the echo out.
    void Reset() { recent_.fill(0); }

private:
    float gain_ = 1.0f;
    double pathLoss_ = 0;  // loudspeaker over echo (RMS ratio); 0: not known
    int sinceEcho_ = 0;    // blocks played since the last that was surely echo
    std::array<double, kEchoBlocks> recent_{};
    size_t next_ = 0;
};

}  // namespace qmnim::audio
