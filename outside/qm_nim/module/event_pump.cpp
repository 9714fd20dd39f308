#include "outside/qm_nim/module/event_pump.h"

#include <algorithm>

namespace qmnim {

EventPump::EventPump(IXNimCallback* callback, LevelSource levels, std::chrono::milliseconds levelPeriod,
                     MembersSource members, std::chrono::milliseconds membersPeriod)
    : callback_(callback),
      levels_(std::move(levels)),
      period_(levelPeriod),
      members_(std::move(members)),
      membersPeriod_(membersPeriod) {
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

void EventPump::MembersChanged() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (membersDirty_ || !members_) return;  // already marked: the pump is on it
        membersDirty_ = true;
    }
    wake_.notify_all();
}

void EventPump::Run() {
    auto nextLevel = Clock::now();
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (events_.empty() && !stopping_) {
            bool sampling = levelsActive_;
            auto until = Clock::time_point::max();
            if (sampling) until = nextLevel;
            if (membersDirty_) until = std::min(until, nextMembers_);
            if (until != Clock::time_point::max()) {
                wake_.wait_until(lock, until);
            } else {
                wake_.wait(lock);
            }
            if (!sampling) nextLevel = Clock::now();  // levels that start now are sampled at once
        }
        std::deque<Event> batch;
        batch.swap(events_);
        bool stop = stopping_;
        auto now = Clock::now();
        bool sample = levelsActive_ && now >= nextLevel;
        bool members = membersDirty_ && now >= nextMembers_ && !stop;
        if (members) membersDirty_ = false;
        lock.unlock();
        for (Event& e : batch) {
            if (callback_) e(*callback_);
        }
        std::optional<std::string> level;
        if (sample && !stop) {
            nextLevel += period_;
            now = Clock::now();
            if (nextLevel < now) nextLevel = now + period_;  // after a stall, no burst to catch up
            level = levels_ ? levels_() : std::nullopt;
            if (level && callback_) callback_->OnAudioVolumn(level->c_str());
        }
        if (members) {
            // Built here, once per period at most, whatever the number of changes behind it.
            nextMembers_ = Clock::now() + membersPeriod_;
            std::optional<std::string> text = members_();
            if (text && *text != lastMembers_ && callback_) {
                callback_->OnRoomMembers(text->c_str());
                lastMembers_ = std::move(*text);
            }
        }
        lock.lock();
        if (sample && !level) levelsActive_ = false;
        if (stop && events_.empty()) return;
    }
}

}  // namespace qmnim
