// The core module's worker pool for blocking background work: starts empty and
// grows whenever every worker is taken.
#pragma once

#include <mutex>

#include "core/services/pool/task_pool.h"

namespace CommonFunc {

class ThreadPool {
public:
    // The process-wide pool, created on first use and never destroyed.
    static ThreadPool* Get();

    ThreadPool();
    // Waits for every queued task.
    virtual ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The pool to schedule on. When the workers are no more than the tasks
    // running and waiting, it first grows to that number plus four.
    TaskPool& GetPool();

private:
    TaskPool pool_;
    std::mutex growLock_;
};

}  // namespace CommonFunc
