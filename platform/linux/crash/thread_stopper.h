// Stops the other threads of the crashed process with ptrace, from the writer
// process, and reads their registers; they are released when done.
#pragma once

#include <sys/user.h>

#include <cstddef>

#include "platform/linux/crash/raw_memory.h"

namespace platform {
namespace crash {

struct StoppedThread {
    int tid;
    bool seized;
    bool stopped;  // stopped and its registers read
    bool hasFpregs;
    user_regs_struct regs;
    user_fpregs_struct fpregs;
};

class ThreadStopper {
public:
    static constexpr size_t kMaxThreads = 16384;
    // How long to wait for the threads to stop; a thread that does not (one in
    // an uninterruptible sleep) is left out.
    static constexpr unsigned kStopTimeoutSeconds = 3;

    ThreadStopper() = default;
    ThreadStopper(const ThreadStopper&) = delete;
    ThreadStopper& operator=(const ThreadStopper&) = delete;
    ~ThreadStopper() { Release(); }

    // Seizes and interrupts every thread of `pid` except `skipTid` (the
    // crashed one, which waits in the signal handler); threads started
    // meanwhile are caught by a second look. Returns how many were found.
    size_t Stop(int pid, int skipTid);
    // Lets the stopped threads run again.
    void Release();

    size_t count() const { return count_; }
    const StoppedThread& operator[](size_t i) const { return threads_[i]; }

private:
    PageArray<StoppedThread> threads_;
    PageArray<int> tids_;
    size_t count_ = 0;
};

}  // namespace crash
}  // namespace platform
