// Delivers the module's events to the core module in the order they were
// raised, from one thread of the module's own, so that no network or audio
// thread ever waits for the receiver. While anyone speaks it also samples the
// speaking levels every `levelPeriod` and raises OnAudioVolumn with them.
//
// The room's members go out the same way, but coalesced: MembersChanged only
// marks them changed (a server may send 100,000 changes in a burst), and the
// pump builds the text at most once per `membersPeriod` and raises
// OnRoomMembers only when it differs from the last one sent.
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
    using Clock = std::chrono::steady_clock;
    using Event = std::function<void(IXNimCallback&)>;
    // The level text to send now, or nullopt when nobody speaks.
    using LevelSource = std::function<std::optional<std::string>()>;
    // The members text to send now, or nullopt when the receiver does not take them.
    using MembersSource = std::function<std::optional<std::string>()>;

    EventPump(IXNimCallback* callback, LevelSource levels, std::chrono::milliseconds levelPeriod,
              MembersSource members = nullptr, std::chrono::milliseconds membersPeriod = std::chrono::milliseconds(100));
    // Delivers what is queued, then stops.
    ~EventPump();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    void Post(Event event);
    // Someone started speaking: sample levels until the source says nobody does.
    void LevelsActive();
    // The room's members may have changed. Cheap; any thread.
    void MembersChanged();

private:
    void Run();

    IXNimCallback* const callback_;
    const LevelSource levels_;
    const std::chrono::milliseconds period_;
    const MembersSource members_;
    const std::chrono::milliseconds membersPeriod_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool levelsActive_ = false;
    bool membersDirty_ = false;
    bool stopping_ = false;
    // Pump thread only.
    Clock::time_point nextMembers_{};
    std::string lastMembers_;
    std::thread thread_;
};

}  // namespace qmnim
