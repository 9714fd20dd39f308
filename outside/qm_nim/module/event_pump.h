// Delivers the module's events to the core module in the order they were
// raised, from one thread of the module's own, so that no network or audio
// thread ever waits for the receiver. While anyone speaks it also samples the
// speaking levels every `levelPeriod` and raises OnAudioVolumn with them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/services/nim/xnim_interface.h"

namespace qmnim {

class EventPump {
public:
    using Event = std::function<void(IXNimCallback&)>;
    // The level text to send now, or nullopt when nobody speaks.
    using LevelSource = std::function<std::optional<std::string>()>;

    EventPump(IXNimCallback* callback, LevelSource levels, std::chrono::milliseconds levelPeriod);
    // Delivers what is queued, then stops.
    ~EventPump();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    void Post(Event event);
    // Someone started speaking: sample levels until the source says nobody does.
    void LevelsActive();

private:
    void Run();

    IXNimCallback* const callback_;
    const LevelSource levels_;
    const std::chrono::milliseconds period_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool levelsActive_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qmnim
