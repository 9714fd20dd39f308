#include "cookies/cookie_call.h"

namespace kxcef {

CookieCall::CookieCall(platform::Event* done) : own_(true), done_(done ? done : &own_) {}

void CookieCall::Add(const CefCookie& cookie) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_ && !abandoned_) result_.push_back(cookie);
}

void CookieCall::Finish() {
    // The event is set under the lock: a caller giving up takes the same lock
    // first, so its event is never touched after it returned.
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    if (!abandoned_) done_->Set();
}

bool CookieCall::finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

bool CookieCall::Wait(const std::function<bool()>& workCanEnd, std::chrono::milliseconds poll) {
    platform::Event* done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done = done_;
        // A signal left over from an earlier use of the event must not end this wait.
        if (!finished_) done->Reset();
    }
    for (;;) {
        bool signalled = done->WaitFor(poll);
        if (finished()) return true;
        if (!workCanEnd()) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (finished_) return true;
            abandoned_ = true;
            done_ = &own_;
            return false;
        }
        // Somebody else set the caller's event; ours comes with Finish. A
        // Finish racing this Reset is seen at the next turn.
        if (signalled) done->Reset();
    }
}

std::vector<CefCookie> CookieCall::TakeResult() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(result_);
}

}  // namespace kxcef
