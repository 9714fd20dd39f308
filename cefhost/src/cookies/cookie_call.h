// One blocking call of the cookie facade. The work runs on the UI thread and
// reports its end here; the caller waits on its own event meanwhile. The
// state is shared, so work that ends after its caller gave up touches
// neither the caller's event nor its result.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "kxcef/cookie_manager.h"
#include "platform/event.h"

namespace kxcef {

class CookieCall {
public:
    // `done` is the caller's event (may be null: the call then uses its own).
    explicit CookieCall(platform::Event* done);
    CookieCall(const CookieCall&) = delete;
    CookieCall& operator=(const CookieCall&) = delete;

    // UI thread, before Finish: a cookie of the result.
    void Add(const CefCookie& cookie);
    // The work has ended: sets the caller's event once, unless the caller gave up.
    void Finish();
    bool finished() const;

    // Caller: clears the event, then waits on it until Finish. While waiting,
    // `workCanEnd` is asked every `poll`; once it says no (the thread that
    // would run the work has stopped), the call is given up and Wait returns
    // false. Without such a stop the wait has no time limit.
    bool Wait(const std::function<bool()>& workCanEnd,
              std::chrono::milliseconds poll = std::chrono::milliseconds(100));
    std::vector<CefCookie> TakeResult();

private:
    mutable std::mutex mutex_;
    platform::Event own_;
    platform::Event* done_;
    bool finished_ = false;
    bool abandoned_ = false;
    std::vector<CefCookie> result_;
};

}  // namespace kxcef
