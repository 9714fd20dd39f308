#include "osr/fps_timer.h"

namespace kxcef {

CFPSTimer::CFPSTimer() { timer_.AddListener(this); }

CFPSTimer::~CFPSTimer() {
    // No tick may reach this object once its destruction has begun.
    timer_.Kill();
    timer_.RemoveListener(this);
}

void CFPSTimer::OnTimer(CMMTimer&) {
    if (++count_ >= skip_) {
        count_ = 0;
        Fire();
    }
}

void CFPSTimer::Fire() {
    Callback callback = callback_.load();
    if (callback) callback(user_.load());
}

void CFPSTimer::SetCallback(Callback callback, void* user) {
    user_ = user;
    callback_ = callback;
}

}  // namespace kxcef
