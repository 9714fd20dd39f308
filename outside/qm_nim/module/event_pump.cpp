#include "outside/qm_nim/module/event_pump.h"

namespace qmnim {

EventPump::EventPump(IXNimCallback* callback, LevelSource levels, std::chrono::milliseconds levelPeriod)
    : callback_(callback), levels_(std::move(levels)), period_(levelPeriod) {
    thread_ = std::thread([this] { Run(); });
}

EventPump::~EventPump() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void EventPump::Post(Event event) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (stopping_) return;
        events_.push_back(std::move(event));
    }
    wake_.notify_all();
}

void EventPump::LevelsActive() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (levelsActive_) return;
        levelsActive_ = true;
    }
    wake_.notify_all();
}

void EventPump::Run() {
    auto nextLevel = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (events_.empty() && !stopping_) {
            if (levelsActive_) {
                wake_.wait_until(lock, nextLevel);
            } else {
                wake_.wait(lock);
                nextLevel = std::chrono::steady_clock::now();
            }
        }
        std::deque<Event> batch;
        batch.swap(events_);
        bool stop = stopping_;
        bool sample = levelsActive_ && std::chrono::steady_clock::now() >= nextLevel;
        lock.unlock();
        for (Event& e : batch) {
            if (callback_) e(*callback_);
        }
        std::optional<std::string> level;
        if (sample && !stop) {
            nextLevel += period_;
            auto now = std::chrono::steady_clock::now();
            if (nextLevel < now) nextLevel = now + period_;  // after a stall, no burst to catch up
            level = levels_ ? levels_() : std::nullopt;
            if (level && callback_) callback_->OnAudioVolumn(level->c_str());
        }
        lock.lock();
        if (sample && !level) levelsActive_ = false;
        if (stop && events_.empty()) return;
    }
}

}  // namespace qmnim
