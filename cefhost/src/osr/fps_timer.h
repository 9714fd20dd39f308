// The repaint timer of a windowless browser: a CMMTimer whose ticks, every
// `skip + 1`-th of them, call one callback.
#pragma once

#include <atomic>

#include "osr/mm_timer.h"

namespace kxcef {

class CFPSTimer : public CMMTimerListener {
public:
    using Callback = void (*)(void* user);

    CFPSTimer();  // registers itself as its timer's only listener
    void OnTimer(CMMTimer& timer) override;
    ~CFPSTimer() override;
    // Calls the callback with its user pointer when one is set.
    virtual void Fire();

    // Set before Start: the callback runs on the timer's thread.
    void SetCallback(Callback callback, void* user);
    bool Start(unsigned periodMs) { return timer_.Start(periodMs); }
    void Stop() { timer_.Kill(); }
    const CMMTimer& timer() const { return timer_; }
    int skip() const { return skip_; }

private:
    int skip_ = 0;
    std::atomic<int> count_{0};
    std::atomic<Callback> callback_{nullptr};
    std::atomic<void*> user_{nullptr};
    CMMTimer timer_;
};

}  // namespace kxcef
