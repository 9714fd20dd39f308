// Delayed tasks on the UI thread, posted from the UI thread and from several
// other threads at once, with the hidden window's timers firing meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/shell/ui_task_dispatcher.h"
#include "tests/support/main_loop.h"

using namespace std::chrono_literals;

namespace {

// A deadlock stops the UI thread inside the loop, where no time-out of the
// test can run: this ends the program with a message instead.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, const char* what) {
        thread_ = std::thread([this, limit, what] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return disarmed_; })) {
                std::fprintf(stderr, "%s: no progress within %lld s (deadlock)\n", what,
                             static_cast<long long>(limit.count()));
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

UITaskDispatcher* Dispatcher() {
    UITaskDispatcher::Get()->EnsureWindow();
    return UITaskDispatcher::Get();
}

}  // namespace

TEST(UITaskDispatcher, TasksRunOnceInOrderOfTheirDelays) {
    auto* d = Dispatcher();
    std::vector<int> ran;
    std::uint32_t a = d->PostDelayedTask([&] { ran.push_back(2); }, 60);
    std::uint32_t b = d->PostDelayedTask([&] { ran.push_back(1); }, 0);
    EXPECT_NE(a, 0u);
    EXPECT_EQ(b, a + 1);
    // A task may post another one.
    d->PostDelayedTask([&] { d->PostDelayedTask([&] { ran.push_back(3); }, 0); }, 100);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return ran.size() == 3; }, 10s));
    qmtest::PumpMainLoopFor(50ms);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

// Posting threads and the UI thread's timer handler share the dispatcher's
// lock; timers fire all the time while the threads post.
TEST(UITaskDispatcher, SeveralThreadsPostManyTasksAtOnceAndEachRunsOnceOnTheUiThread) {
    auto* d = Dispatcher();
    constexpr int kThreads = 4;
    constexpr int kPosts = 400;
    const std::thread::id ui = std::this_thread::get_id();
    std::atomic<int> ran{0}, offUiThread{0};
    std::vector<std::vector<std::uint32_t>> ids(kThreads);
    std::atomic<int> postersDone{0};

    Watchdog watchdog(120s, "posting from several threads");
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                ids[t].push_back(d->PostDelayedTask(
                    [&] {
                        if (std::this_thread::get_id() != ui) ++offUiThread;
                        ++ran;
                    },
                    static_cast<UINT>(i % 4)));
                if (i % 50 == 0) std::this_thread::yield();
            }
            ++postersDone;
        });
    }
    bool allRan = qmtest::PumpMainLoopUntil([&] { return ran == kThreads * kPosts && postersDone == kThreads; }, 90s);
    for (auto& p : posters) p.join();
    EXPECT_TRUE(allRan) << ran << " of " << kThreads * kPosts << " tasks ran";
    qmtest::PumpMainLoopFor(30ms);
    EXPECT_EQ(ran, kThreads * kPosts) << "a task ran twice";
    EXPECT_EQ(offUiThread, 0);
    std::set<std::uint32_t> distinct;
    for (const auto& list : ids)
        for (std::uint32_t id : list) {
            EXPECT_NE(id, 0u);
            distinct.insert(id);
        }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kPosts));
}

// A post from another thread returns while the UI thread is busy elsewhere;
// its task still waits for its whole delay, counted from the post.
TEST(UITaskDispatcher, APostFromAnotherThreadNeverWaitsForTheUiThread) {
    auto* d = Dispatcher();
    Watchdog watchdog(120s, "posting while the UI thread is busy");
    using Clock = std::chrono::steady_clock;
    constexpr int kPosts = 200;
    constexpr UINT kDelayMs = 150;
    std::atomic<int> ran{0}, early{0};
    auto poster = std::async(std::launch::async, [&] {
        for (int i = 0; i < kPosts; ++i) {
            Clock::time_point at = Clock::now();
            d->PostDelayedTask(
                [&, at] {
                    if (Clock::now() - at < std::chrono::milliseconds(kDelayMs)) ++early;
                    ++ran;
                },
                kDelayMs);
        }
    });
    // The UI thread does not turn its loop meanwhile.
    bool returned = poster.wait_for(30s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the posting thread waited for the UI thread";
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return ran == kPosts; }, 60s)) << ran << " of " << kPosts << " ran";
    poster.wait();
    EXPECT_EQ(early, 0) << "tasks ran before their delay";
}
