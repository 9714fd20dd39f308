#include "outside/qm_nim/audio/stream_clock.h"

#include <algorithm>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
StreamClock::Clock::time_point StreamClock::Next(Clock::time_point reported, size_t count) {
    const std::chrono::duration<double> length(double(count) / kSampleRate);
    Clock::duration off = reported - expected_;
    if (!running_ || off > jump_ || off < -jump_) {
        expected_ = reported;
        running_ = true;
    } else {
        // Each piece pulls the clock by its share of the follow time.
        double share = std::min(1.0, length.count() / std::chrono::duration<double>(follow_).count());
        expected_ += std::chrono::duration_cast<Clock::duration>(off * share);
    }
    Clock::time_point at = expected_;
    expected_ += std::chrono::duration_cast<Clock::duration>(length);
    return at;
}

}  // namespace qmnim::audio
