// Threads parked at different call depths until released, as a client's idle
// threads are; the crash tests and the dump benchmark fill a process with them.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace qmtest {

class IdleThreads {
public:
    // Returns once every thread is parked; thread i sits i % maxDepth frames deep.
    IdleThreads(int count, int maxDepth) {
        for (int i = 0; i < count; ++i) threads_.emplace_back([this, i, maxDepth] { Park(i % maxDepth); });
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return parked_ == count; });
    }
    ~IdleThreads() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            release_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }
    IdleThreads(const IdleThreads&) = delete;
    IdleThreads& operator=(const IdleThreads&) = delete;

private:
    // Each frame carries a little stack so the dump has real stack memory to copy.
    __attribute__((noinline)) void Park(int depth) {
        volatile char frame[256];
        frame[0] = 0;
        if (depth > 0) return Park(depth - 1);
        std::unique_lock<std::mutex> lock(mutex_);
        ++parked_;
        ready_.notify_all();
        wake_.wait(lock, [&] { return release_ || frame[0]; });
    }

    std::mutex mutex_;
    std::condition_variable ready_, wake_;
    int parked_ = 0;
    bool release_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qmtest
