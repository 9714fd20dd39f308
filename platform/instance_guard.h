// Single-instance guard, named like the Windows event it stands for, and the
// channel through which a later start hands its request to the instance that
// holds it. The guard is per user and per login session (as a session-local
// named event is): another user's client never stops this one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class GuardResult {
    Acquired,        // this process is the first instance and holds the guard
    AlreadyHeld,     // an instance of this user holds it; HandOver reaches it
    HeldByStranger,  // the name is held by a process of another user, or one that takes no hand-over
    Failed,          // the guard could not be created for another reason
};

enum class HandOverResult {
    Delivered,        // the holder took the message and said so
    NotAcknowledged,  // sent; the holder did not confirm it in time (it may still act on it)
    Failed,           // nothing could be sent
};

// `base` + "-" + user id + "-" + login session (when the system names one).
std::string SessionGuardName(const std::string& base);

class InstanceGuard {
public:
    explicit InstanceGuard(std::string name);
    // Closes a connection to another holder. An acquired guard stays held until the process ends.
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    GuardResult Acquire();
    // Why the last result is what it is, for a log line (empty when acquired).
    const std::string& Detail() const { return detail_; }
    const std::string& Name() const { return name_; }

    // After AlreadyHeld: sends `message` (at most kMaxHandOverBytes) to the
    // holder and waits up to `timeout` for its confirmation.
    HandOverResult HandOver(const std::string& message, std::chrono::milliseconds timeout);

private:
    std::string name_;
    std::string detail_;
    int holderConnection_ = -1;
};

constexpr std::size_t kMaxHandOverBytes = 4096;

// What reaches the instance that holds the guard from a later start.
struct HandOverEvent {
    bool fromThisUser = false;  // false: refused (another user); message is empty then
    std::uint32_t peerUid = 0;
    std::string message;
};

// For the process that acquired a guard: every hand-over of a later start
// arrives at `receiver` on the main loop's thread (the GLib default context),
// one at a time, in the order the starts connected. The start is told "done"
// once `receiver` returned. Call once, on the main thread.
void ReceiveHandOvers(std::function<void(const HandOverEvent&)> receiver);

}  // namespace platform
