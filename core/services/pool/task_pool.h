// A pool of worker threads running fire-and-forget tasks in FIFO order. Its
// worker count changes only by resize; destroying it waits for every task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TaskPool {
public:
    using Task = std::function<void()>;

    explicit TaskPool(size_t workers = 0);
    // Runs every queued task to its end, then stops the workers.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Queues a task behind those already waiting. False for an empty task.
    bool schedule(Task task);
    // Sets the number of workers: new ones start at once, surplus ones leave
    // after the task they are running.
    void resize(size_t workers);

    size_t size() const;     // workers alive
    size_t active() const;   // tasks running now
    size_t pending() const;  // tasks waiting in the queue
    // Blocks until at most `taskThreshold` tasks are running or waiting.
    void wait(size_t taskThreshold = 0) const;

private:
    void WorkerLoop();
    void JoinFinishedLocked(std::vector<std::thread>& toJoin);

    mutable std::mutex lock_;
    std::condition_variable taskReady_;
    mutable std::condition_variable progress_;
    std::deque<Task> queue_;
    size_t target_ = 0;
    size_t alive_ = 0;
    size_t active_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> finished_;
};
