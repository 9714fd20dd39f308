// A simulated voice room behind the voice module's object interface: calls are
// answered from a thread of the module's own, as a voice SDK answers from its
// network and audio threads.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/services/nim/xnim_interface.h"

namespace qmnim {

class NimRoom final : public IXNimObject {
public:
    NimRoom() = default;
    ~NimRoom();
    NimRoom(const NimRoom&) = delete;
    NimRoom& operator=(const NimRoom&) = delete;

    bool Init(const char* token, IXNimCallback* callback) override;
    void Release() override;
    bool Login(const char* appKey, const char* user, const char* password) override;
    void Logout() override;
    bool JoinRoom(const char* roomId, const char* rtmpUrl, bool highRate, int audioMode) override;
    bool LeaveRoom(const char* channelId) override;
    bool EnumDevice() override;
    bool StartAudioPlayDevice(const char* path) override;
    bool EndAudioPlayDevice() override;
    bool StartAudioDevice(const char* path) override;
    bool EndAudioDevice() override;
    bool StartMicDevice(const char* path, bool test) override;
    bool EndMicDevice(bool test) override;
    bool Reserved() override;
    bool SetViewerMode(bool viewer) override;
    bool SetMuted(bool muted) override;
    bool SetMicVolumn(int volume) override;
    bool SetAudioVolumn(int volume) override;

    // The channel id a room name maps to (stable, above the 32-bit range).
    static std::uint64_t ChannelIdFor(const std::string& roomId);

private:
    using Event = std::function<void(IXNimCallback&)>;

    void Post(Event event);
    void EventLoop();
    bool StartDevice(int type, const char* path, bool wantCapture);
    void EndDevice(int type);
    std::string VolumeEventLocked(int type);

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    std::thread thread_;
    bool running_ = false;
    IXNimCallback* callback_ = nullptr;

    std::string user_;
    bool loggedIn_ = false;
    std::string roomId_;
    std::uint64_t channelId_ = 0;
    bool inRoom_ = false;
    bool viewer_ = false;
    bool muted_ = false;
    int micVolume_ = 100;
    int audioVolume_ = 100;
    std::array<bool, 3> deviceRunning_{};
    std::uint32_t noise_ = 0x2545F491u;
};

// Every call the object received, one line each ("JoinRoom(5,,1,2)"), for
// diagnostics; kept per process.
void Trace(const std::string& line);

}  // namespace qmnim
