#include "core/services/pool/thread_pool.h"

namespace CommonFunc {

ThreadPool* ThreadPool::Get() {
    static ThreadPool* instance = new ThreadPool();  // lives until the process ends
    return instance;
}

ThreadPool::ThreadPool() : pool_(0) {}

ThreadPool::~ThreadPool() = default;

TaskPool& ThreadPool::GetPool() {
    std::lock_guard<std::mutex> lock(growLock_);
    size_t busy = pool_.active() + pool_.pending();
    if (pool_.size() <= busy) pool_.resize(busy + 4);
    return pool_;
}

}  // namespace CommonFunc
