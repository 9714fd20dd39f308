#include "platform/linux/crash/local_time.h"

namespace platform {
namespace crash {

void UtcOffsetTable::Build(std::int64_t now, int horizonDays, long (*offsetAt)(std::int64_t)) {
    count_ = 0;
    long current = offsetAt(now);
    entries_[count_++] = {now, current};
    constexpr std::int64_t kDay = 86400;
    std::int64_t previous = now;
    for (int day = 1; day <= horizonDays && count_ < kMaxEntries; ++day) {
        std::int64_t t = now + day * kDay;
        long offset = offsetAt(t);
        if (offset == current) {
            previous = t;
            continue;
        }
        // The change lies in (previous, t]: find its first second.
        std::int64_t lo = previous, hi = t;
        while (hi - lo > 1) {
            std::int64_t mid = lo + (hi - lo) / 2;
            if (offsetAt(mid) == current)
                lo = mid;
            else
                hi = mid;
        }
        current = offsetAt(hi);
        entries_[count_++] = {hi, current};
        previous = hi;
        // Re-scan from the transition in case two fall within one day.
        day = static_cast<int>((hi - now) / kDay);
    }
}

long UtcOffsetTable::OffsetAt(std::int64_t t) const {
    if (count_ == 0) return 0;
    long offset = entries_[0].offset;
    for (int i = 1; i < count_ && entries_[i].from <= t; ++i) offset = entries_[i].offset;
    return offset;
}

CivilTime CivilFromSeconds(std::int64_t seconds) {
    constexpr std::int64_t kDay = 86400;
    std::int64_t days = seconds / kDay;
    std::int64_t rest = seconds % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    // Days since 1970-01-01 to a Gregorian date, in 400-year eras from 0000-03-01.
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = yoe + era * 400;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;

    CivilTime out;
    out.year = static_cast<int>(y);
    out.month = static_cast<int>(m);
    out.day = static_cast<int>(d);
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest / 60 % 60);
    out.second = static_cast<int>(rest % 60);
    return out;
}

}  // namespace crash
}  // namespace platform
