#include "outside/qm_nim/session/backoff.h"

#include <algorithm>

namespace qmnim::session {

Backoff::Clock::time_point Backoff::Failed(Clock::time_point now) {
    if (upSince_ && now - *upSince_ >= stableAfter_) wait_ = Ms(0);
    upSince_.reset();
    wait_ = wait_.count() == 0 ? first_ : std::min(wait_ * 2, max_);
    return now + wait_;
}

}  // namespace qmnim::session
