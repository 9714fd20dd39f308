// The worker pool: its growth rule, FIFO order, resizing, and that destruction
// waits for the queued work.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/services/pool/thread_pool.h"
#include "tests/support/process.h"

namespace {

// Holds tasks until opened (or until the test ends, so nothing hangs).
class Gate {
public:
    ~Gate() { Open(); }
    void Open() {
        std::lock_guard<std::mutex> lock(lock_);
        open_ = true;
        cv_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(lock_);
        cv_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool open_ = false;
};

bool WaitActive(TaskPool& pool, size_t n) {
    return qmtest::WaitUntil([&] { return pool.active() == n; }, std::chrono::seconds(20));
}

TEST(ThreadPoolGrowth, FirstFetchStartsFourWorkers) {
    CommonFunc::ThreadPool pool;
    TaskPool& tasks = pool.GetPool();
    EXPECT_EQ(tasks.size(), 4u);
    std::atomic<bool> ran{false};
    tasks.schedule([&] { ran = true; });
    tasks.wait();
    EXPECT_TRUE(ran);
    // Idle again: fetching changes nothing.
    EXPECT_EQ(pool.GetPool().size(), 4u);
}

TEST(ThreadPoolGrowth, FourBusyWorkersGrowToEight) {
    Gate gate;
    CommonFunc::ThreadPool pool;
    TaskPool& tasks = pool.GetPool();
    // Never more than three tasks are busy or waiting while these are scheduled.
    for (int i = 0; i < 4; ++i) pool.GetPool().schedule([&] { gate.Pass(); });
    ASSERT_TRUE(WaitActive(tasks, 4));
    EXPECT_EQ(tasks.pending(), 0u);
    EXPECT_EQ(tasks.size(), 4u);
    EXPECT_EQ(pool.GetPool().size(), 8u);
    gate.Open();
}

TEST(ThreadPoolGrowth, TwoBusyOfFourDoesNotResize) {
    Gate gate;
    CommonFunc::ThreadPool pool;
    for (int i = 0; i < 2; ++i) pool.GetPool().schedule([&] { gate.Pass(); });
    ASSERT_TRUE(WaitActive(pool.GetPool(), 2));
    EXPECT_EQ(pool.GetPool().size(), 4u);
    gate.Open();
}

TEST(ThreadPoolGrowth, PendingTasksCountToo) {
    Gate gate;
    CommonFunc::ThreadPool pool;
    TaskPool& tasks = pool.GetPool();
    tasks.resize(1);  // one worker, so the rest waits in the queue
    ASSERT_TRUE(qmtest::WaitUntil([&] { return tasks.size() == 1; }, std::chrono::seconds(20)));
    for (int i = 0; i < 3; ++i) tasks.schedule([&] { gate.Pass(); });
    ASSERT_TRUE(WaitActive(tasks, 1));
    EXPECT_EQ(tasks.pending(), 2u);
    EXPECT_EQ(pool.GetPool().size(), 7u);  // 1 active + 2 pending + 4
    gate.Open();
}

TEST(TaskPool, RunsTasksInSchedulingOrder) {
    TaskPool pool(1);
    std::mutex lock;
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) {
        pool.schedule([&, i] {
            std::lock_guard<std::mutex> g(lock);
            order.push_back(i);
        });
    }
    pool.wait();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(TaskPool, DestructionWaitsForQueuedTasks) {
    std::atomic<int> done{0};
    {
        TaskPool pool(2);
        for (int i = 0; i < 40; ++i) {
            pool.schedule([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ++done;
            });
        }
    }
    EXPECT_EQ(done.load(), 40);
}

TEST(TaskPool, DestructionRunsQueuedTasksEvenWithoutWorkers) {
    std::atomic<int> done{0};
    {
        TaskPool pool(0);
        for (int i = 0; i < 5; ++i) pool.schedule([&] { ++done; });
        EXPECT_EQ(pool.pending(), 5u);
    }
    EXPECT_EQ(done.load(), 5);
}

TEST(TaskPool, WrapperDestructionWaitsToo) {
    std::atomic<int> done{0};
    {
        CommonFunc::ThreadPool pool;
        for (int i = 0; i < 20; ++i) {
            pool.GetPool().schedule([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ++done;
            });
        }
    }
    EXPECT_EQ(done.load(), 20);
}

TEST(TaskPool, ShrinksAfterRunningTasksAndGrowsAgain) {
    Gate gate;
    TaskPool pool(4);
    for (int i = 0; i < 4; ++i) pool.schedule([&] { gate.Pass(); });
    ASSERT_TRUE(WaitActive(pool, 4));
    pool.resize(1);
    EXPECT_EQ(pool.active(), 4u);  // busy workers finish their task first
    gate.Open();
    ASSERT_TRUE(qmtest::WaitUntil([&] { return pool.size() == 1; }, std::chrono::seconds(20)));
    pool.resize(3);
    EXPECT_EQ(pool.size(), 3u);
    std::atomic<int> done{0};
    for (int i = 0; i < 10; ++i) pool.schedule([&] { ++done; });
    pool.wait();
    EXPECT_EQ(done.load(), 10);
}

TEST(TaskPool, ThrowingTaskDoesNotKillItsWorker) {
    TaskPool pool(1);
    std::atomic<bool> after{false};
    pool.schedule([] { throw 42; });
    pool.schedule([&] { after = true; });
    pool.wait();
    EXPECT_TRUE(after);
    EXPECT_EQ(pool.size(), 1u);
    EXPECT_FALSE(pool.schedule(TaskPool::Task()));
}

TEST(ThreadPoolGrowth, ProcessWideInstanceIsOne) {
    EXPECT_EQ(CommonFunc::ThreadPool::Get(), CommonFunc::ThreadPool::Get());
}

}  // namespace
