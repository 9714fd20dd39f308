// How long to wait before the next connection attempt. Each failure doubles
// the wait (from `first` up to `max`); a session that came up does not undo
// that by itself, because a server that breaks every session right after
// accepting it would otherwise be hammered at the shortest wait. Only a
// session that stayed up for `stableAfter` starts the waits over.
//
// The times are the caller's (the session's clock, a test's fake one).
#pragma once

#include <chrono>
#include <optional>

namespace qmnim::session {

class Backoff {
public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    Backoff(Ms first, Ms max, Ms stableAfter) : first_(first), max_(max), stableAfter_(stableAfter) {}

    // A session came up at `now`.
    void Online(Clock::time_point now) { upSince_ = now; }
    // A session or an attempt ended at `now`: when to try next.
    Clock::time_point Failed(Clock::time_point now);
    // The user asked anew (a new login): the next failure waits the shortest time.
    void Reset() {
        wait_ = Ms(0);
        upSince_.reset();
    }
    // The wait chosen by the last Failed (0 before any).
    Ms wait() const { return wait_; }

private:
    const Ms first_, max_, stableAfter_;
    Ms wait_{0};
    std::optional<Clock::time_point> upSince_;
};

}  // namespace qmnim::session
