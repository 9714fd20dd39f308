// A periodic timer on a thread of its own (the steady clock), standing for the
// multimedia timer that drives off-screen repaints.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kxcef {

class CMMTimer;

// Receives the ticks of a CMMTimer, on the timer's thread.
class CMMTimerListener {
public:
    virtual ~CMMTimerListener() = default;
    virtual void OnTimer(CMMTimer& timer) = 0;
};

class CMMTimer {
public:
    CMMTimer();
    ~CMMTimer();  // kills the timer when it runs
    CMMTimer(const CMMTimer&) = delete;
    CMMTimer& operator=(const CMMTimer&) = delete;

    // Starts ticking every `delayMs` ms (at least 1) unless it runs already.
    bool Start(unsigned delayMs);
    // Stops the ticks; returns once no listener runs any more (unless called
    // from a listener, which only stops the ticks that follow).
    void Kill();

    void AddListener(CMMTimerListener* listener);
    void RemoveListener(CMMTimerListener* listener);

    unsigned id() const;
    unsigned delay() const;
    std::uint64_t elapsed() const;  // ms: the delay times the ticks so far
    std::uint64_t ticks() const;
    bool running() const;

private:
    struct Shared;  // what the thread keeps, so that it never outlives its state
    void Tick(Shared& s);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    unsigned id_ = 0;
    mutable std::mutex listenersLock_;
    std::vector<CMMTimerListener*> listeners_;
};

}  // namespace kxcef
