// The time of each piece of a sound stream, from the times the sound server
// reports, which jitter from one piece to the next (its timing is
// interpolated between updates) and, for a capture, wander by several
// milliseconds over tens of seconds while the samples come exactly on time:
// the stream's own clock runs on by the samples counted and follows the
// reports only as fast as `follow` says, so that it keeps a real drift of
// the device's clock but not the jitter. A report farther off than `jump`
// (an underrun, an overrun, a new stream) is a real step of the stream and
// is taken as it is.
#pragma once

#include <chrono>
#include <cstddef>

namespace qmnim::audio {

class StreamClock {
public:
    using Clock = std::chrono::steady_clock;
    // `jump`: farther than this from the running clock, a report is a step
    // of the stream; `follow`: the time the clock takes to follow a report.
    StreamClock(std::chrono::microseconds jump, std::chrono::milliseconds follow) : jump_(jump), follow_(follow) {}

    // The time of the first of `count` samples the server reported at
    // `reported`; the piece after it is expected `count` samples later.
    Clock::time_point Next(Clock::time_point reported, size_t count);
    void Reset() { running_ = false; }

private:
    const std::chrono::microseconds jump_;
    const std::chrono::milliseconds follow_;
    bool running_ = false;
    Clock::time_point expected_{};
};

}  // namespace qmnim::audio
