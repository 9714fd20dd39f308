#include "core/services/pool/task_pool.h"

#include <algorithm>

TaskPool::TaskPool(size_t workers) { resize(workers); }

TaskPool::~TaskPool() {
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(lock_);
        // Queued work must not be stranded by a pool that has no workers left.
        if (!queue_.empty() && alive_ == 0) {
            lock.unlock();
            resize(1);
            lock.lock();
        }
        progress_.wait(lock, [this] { return queue_.empty() && active_ == 0; });
        stopping_ = true;
        threads.swap(threads_);
    }
    taskReady_.notify_all();
    for (std::thread& t : threads) {
        if (t.joinable()) t.join();
    }
}

bool TaskPool::schedule(Task task) {
    if (!task) return false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (stopping_) return false;
        queue_.push_back(std::move(task));
    }
    taskReady_.notify_one();
    return true;
}

void TaskPool::resize(size_t workers) {
    std::vector<std::thread> toJoin;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (stopping_) return;
        target_ = workers;
        while (alive_ < target_) {
            ++alive_;
            threads_.emplace_back([this] { WorkerLoop(); });
        }
        JoinFinishedLocked(toJoin);
    }
    taskReady_.notify_all();  // surplus workers notice that they should leave
    for (std::thread& t : toJoin) t.join();
}

void TaskPool::JoinFinishedLocked(std::vector<std::thread>& toJoin) {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (std::find(finished_.begin(), finished_.end(), it->get_id()) != finished_.end()) {
            finished_.erase(std::find(finished_.begin(), finished_.end(), it->get_id()));
            toJoin.push_back(std::move(*it));
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

size_t TaskPool::size() const {
    std::lock_guard<std::mutex> lock(lock_);
    return alive_;
}

size_t TaskPool::active() const {
    std::lock_guard<std::mutex> lock(lock_);
    return active_;
}

size_t TaskPool::pending() const {
    std::lock_guard<std::mutex> lock(lock_);
    return queue_.size();
}

void TaskPool::wait(size_t taskThreshold) const {
    std::unique_lock<std::mutex> lock(lock_);
    progress_.wait(lock, [&] { return active_ + queue_.size() <= taskThreshold; });
}

void TaskPool::WorkerLoop() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        taskReady_.wait(lock, [this] { return stopping_ || alive_ > target_ || !queue_.empty(); });
        if (alive_ > target_ || (stopping_ && queue_.empty())) break;
        Task task = std::move(queue_.front());
        queue_.pop_front();
        ++active_;
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task's failure is its own; the worker carries on.
        }
        task = nullptr;  // release what the task holds before reporting progress
        lock.lock();
        --active_;
        progress_.notify_all();
    }
    --alive_;
    if (!stopping_) finished_.push_back(std::this_thread::get_id());
    progress_.notify_all();
}
