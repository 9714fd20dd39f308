#include "osr/mm_timer.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace kxcef {

struct CMMTimer::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::atomic<unsigned> delay{0};
    std::atomic<std::uint64_t> elapsed{0};
    std::atomic<std::uint64_t> ticks{0};
    std::atomic<bool> running{false};
};

namespace {
std::atomic<unsigned> g_nextId{1};
}

CMMTimer::CMMTimer() : shared_(std::make_shared<Shared>()) {}

CMMTimer::~CMMTimer() { Kill(); }

bool CMMTimer::Start(unsigned delayMs) {
    if (thread_.joinable() || shared_->running.load()) return true;
    delayMs = std::max(1u, delayMs);
    // A killed timer may still be finishing its last tick on a detached
    // thread: a new run gets a state of its own.
    shared_ = std::make_shared<Shared>();
    shared_->delay = delayMs;
    shared_->running = true;
    id_ = g_nextId.fetch_add(1);
    std::shared_ptr<Shared> s = shared_;
    thread_ = std::thread([this, s] {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::milliseconds(s->delay.load());
        auto next = Clock::now() + period;
        std::unique_lock<std::mutex> lock(s->mutex);
        while (!s->stop) {
            if (s->wake.wait_until(lock, next, [&] { return s->stop; })) break;
            lock.unlock();
            Tick(*s);
            lock.lock();
            // Keep the schedule; ticks missed while busy are dropped, not bunched.
            next += period;
            auto now = Clock::now();
            if (next <= now) next = now + period;
        }
    });
    return true;
}

void CMMTimer::Kill() {
    std::shared_ptr<Shared> s = shared_;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->stop = true;
    }
    s->wake.notify_all();
    s->running = false;
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
    else thread_.join();
}

void CMMTimer::Tick(Shared& s) {
    s.elapsed.fetch_add(s.delay.load());
    s.ticks.fetch_add(1);
    std::lock_guard<std::mutex> lock(listenersLock_);
    for (CMMTimerListener* listener : listeners_) listener->OnTimer(*this);
}

void CMMTimer::AddListener(CMMTimerListener* listener) {
    if (!listener) return;
    std::lock_guard<std::mutex> lock(listenersLock_);
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) listeners_.push_back(listener);
}

void CMMTimer::RemoveListener(CMMTimerListener* listener) {
    std::lock_guard<std::mutex> lock(listenersLock_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

unsigned CMMTimer::id() const { return id_; }
unsigned CMMTimer::delay() const { return shared_->delay.load(); }
std::uint64_t CMMTimer::elapsed() const { return shared_->elapsed.load(); }
std::uint64_t CMMTimer::ticks() const { return shared_->ticks.load(); }
bool CMMTimer::running() const { return shared_->running.load(); }

}  // namespace kxcef
