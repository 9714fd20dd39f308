// A manual-reset event that a caller creates, owns and waits on while another
// thread does work for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

class Event {
public:
    explicit Event(bool manualReset = true) : manualReset_(manualReset) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return signalled_;
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
        if (!manualReset_) signalled_ = false;
    }
    // False when the time ran out.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
        if (!manualReset_) signalled_ = false;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    bool manualReset_;
};

}  // namespace platform
