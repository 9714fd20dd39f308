// Local wall-clock time without the C library's time-zone machinery, so that a
// signal handler can take it: the offsets are worked out ahead of time.
#pragma once

#include <cstdint>

namespace platform {
namespace crash {

struct CivilTime {
    int year, month, day, hour, minute, second;
};

// UTC offsets from a given moment on, with the transitions (daylight saving
// changes) that follow within the horizon it was built for.
class UtcOffsetTable {
public:
    // Learns the local offsets from `now` to `now + horizonDays` days through
    // `offsetAt` (seconds east of UTC at a UTC instant; localtime_r's tm_gmtoff).
    void Build(std::int64_t now, int horizonDays, long (*offsetAt)(std::int64_t));
    // Offset at the UTC instant `t`; before the first entry the first offset
    // holds, past the horizon the last one. Async-signal-safe.
    long OffsetAt(std::int64_t t) const;
    int transitions() const { return count_ - 1; }

    static constexpr int kMaxEntries = 16;

private:
    struct Entry {
        std::int64_t from;
        long offset;
    };
    Entry entries_[kMaxEntries] = {};
    int count_ = 0;
};

// Calendar date and time of `seconds` since the epoch (proleptic Gregorian).
CivilTime CivilFromSeconds(std::int64_t seconds);

}  // namespace crash
}  // namespace platform
