// A voice module for the core module's own tests: the module's two exports
// and object interface over a simulated room, with a trace of every call it
// received (qm_nim_trace) so that tests see exactly what reached the module.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <json/value.h>
#include <json/writer.h>

#include "core/services/nim/xnim_interface.h"

#define QM_NIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace qmnim {

void Trace(const std::string& line);

struct FakeDevice {
    int type;
    const char* path;
    const char* name;
};
// What the simulated machine offers.
const FakeDevice kDevices[] = {
    {kXNimDeviceMic, "mic", "Simulated microphone"},
    {kXNimDeviceAudio, "", "Everything"},
    {kXNimDeviceAudioPlay, "spk", "Simulated loudspeaker"},
};

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


namespace {


constexpr auto kVolumeTick = std::chrono::milliseconds(50);

std::string Text(const char* s) { return s ? s : ""; }

std::string Write(const Json::Value& value) {
    Json::FastWriter writer;
    std::string text = writer.write(value);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

NimRoom::~NimRoom() { Release(); }

bool NimRoom::Init(const char* token, IXNimCallback* callback) {
    Trace("Init(" + Text(token) + ")");
    std::lock_guard<std::mutex> lock(lock_);
    if (running_ || !callback || Text(token).empty()) return false;
    callback_ = callback;
    running_ = true;
    thread_ = std::thread([this] { EventLoop(); });
    return true;
}

void NimRoom::Release() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!running_) return;
        Trace("Release()");
        running_ = false;
        thread.swap(thread_);
    }
    wake_.notify_all();
    if (thread.joinable()) thread.join();
    std::lock_guard<std::mutex> lock(lock_);
    events_.clear();
    callback_ = nullptr;
    deviceRunning_ = {};
    inRoom_ = false;
    loggedIn_ = false;
}

// A login as "block" waits until the test lets it go (qm_nim_unblock_login),
// as a login to a slow server would.
std::mutex g_blockLock;
std::condition_variable g_blockWake;
bool g_blocked = false;

bool NimRoom::Login(const char* appKey, const char* user, const char* password) {
    Trace("Login(" + Text(appKey) + "," + Text(user) + "," + Text(password) + ")");
    if (Text(user) == "block") {
        std::unique_lock<std::mutex> lock(g_blockLock);
        g_blocked = true;
        g_blockWake.wait_for(lock, std::chrono::seconds(20), [] { return !g_blocked; });
        g_blocked = false;
    }
    if (Text(appKey).empty() || Text(user).empty() || Text(password).empty()) return false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        user_ = user;
        loggedIn_ = true;
    }
    Post([](IXNimCallback& cb) { cb.OnLogin(); });
    return true;
}

void NimRoom::Logout() {
    Trace("Logout()");
    std::lock_guard<std::mutex> lock(lock_);
    loggedIn_ = false;
    inRoom_ = false;
}

std::uint64_t NimRoom::ChannelIdFor(const std::string& roomId) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : roomId) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return 1000000000000ull + hash % 9000000000000ull;
}

bool NimRoom::JoinRoom(const char* roomId, const char* rtmpUrl, bool highRate, int audioMode) {
    Trace("JoinRoom(" + Text(roomId) + "," + Text(rtmpUrl) + "," + (highRate ? "1" : "0") + "," +
          std::to_string(audioMode) + ")");
    std::string room = Text(roomId);
    if (room.empty()) return false;
    Json::Value reply(Json::objectValue);
    {
        std::lock_guard<std::mutex> lock(lock_);
        roomId_ = room;
        channelId_ = ChannelIdFor(room);
        inRoom_ = true;
        reply["res"] = 200;
        reply["room_id"] = room;
        reply["channelId"] = Json::UInt64(channelId_);
        reply["rtmp_url"] = Text(rtmpUrl);
        reply["high_rate"] = highRate;
        reply["audio_mode"] = audioMode;
        reply["viewer"] = viewer_;
        reply["uid"] = user_;
    }
    std::string text = Write(reply);
    Post([text](IXNimCallback& cb) { cb.OnJoinRoom(text.c_str()); });
    return true;
}

bool NimRoom::LeaveRoom(const char* channelId) {
    Trace("LeaveRoom(" + Text(channelId) + ")");
    std::lock_guard<std::mutex> lock(lock_);
    bool wasIn = inRoom_ && Text(channelId) == std::to_string(channelId_);
    inRoom_ = false;
    return wasIn;
}

bool NimRoom::EnumDevice() {
    Trace("EnumDevice()");
    Json::Value reply(Json::objectValue);
    reply["devices"] = Json::Value(Json::arrayValue);
    for (const FakeDevice& d : kDevices) {
        Json::Value item(Json::objectValue);
        item["type"] = d.type;
        item["name"] = d.name;
        item["path"] = d.path;
        reply["devices"].append(item);
    }
    std::string text = Write(reply);
    Post([text](IXNimCallback& cb) { cb.OnEnumDevice(text.c_str()); });
    return true;
}

// The default device (empty path) always opens; a named one must exist.
bool NimRoom::StartDevice(int type, const char* path, bool) {
    std::string address = Text(path);
    bool ok = address.empty();
    for (const FakeDevice& d : kDevices) {
        if (d.path == address && d.type == type) ok = true;
    }
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!running_) return false;
        deviceRunning_[static_cast<size_t>(type)] = ok;
    }
    Post([type, ok](IXNimCallback& cb) { cb.OnStartDevice(type, ok); });
    wake_.notify_all();
    return ok;
}

void NimRoom::EndDevice(int type) {
    std::lock_guard<std::mutex> lock(lock_);
    deviceRunning_[static_cast<size_t>(type)] = false;
}

bool NimRoom::StartAudioPlayDevice(const char* path) {
    Trace("StartAudioPlayDevice(" + Text(path) + ")");
    return StartDevice(kXNimDeviceAudioPlay, path, false);
}

bool NimRoom::EndAudioPlayDevice() {
    Trace("EndAudioPlayDevice()");
    EndDevice(kXNimDeviceAudioPlay);
    return true;
}

bool NimRoom::StartAudioDevice(const char* path) {
    Trace("StartAudioDevice(" + Text(path) + ")");
    return StartDevice(kXNimDeviceAudio, path, true);
}

bool NimRoom::EndAudioDevice() {
    Trace("EndAudioDevice()");
    EndDevice(kXNimDeviceAudio);
    return true;
}

bool NimRoom::StartMicDevice(const char* path, bool test) {
    Trace("StartMicDevice(" + Text(path) + "," + (test ? "1" : "0") + ")");
    return StartDevice(kXNimDeviceMic, path, true);
}

bool NimRoom::EndMicDevice(bool test) {
    Trace(std::string("EndMicDevice(") + (test ? "1" : "0") + ")");
    EndDevice(kXNimDeviceMic);
    return true;
}

bool NimRoom::Reserved() {
    Trace("Reserved()");
    return false;
}

bool NimRoom::SetViewerMode(bool viewer) {
    Trace(std::string("SetViewerMode(") + (viewer ? "1" : "0") + ")");
    std::lock_guard<std::mutex> lock(lock_);
    viewer_ = viewer;
    return true;
}

bool NimRoom::SetMuted(bool muted) {
    Trace(std::string("SetMuted(") + (muted ? "1" : "0") + ")");
    std::lock_guard<std::mutex> lock(lock_);
    muted_ = muted;
    return true;
}

bool NimRoom::SetMicVolumn(int volume) {
    Trace("SetMicVolumn(" + std::to_string(volume) + ")");
    std::lock_guard<std::mutex> lock(lock_);
    micVolume_ = volume < 0 ? 0 : (volume > 255 ? 255 : volume);
    return true;
}

bool NimRoom::SetAudioVolumn(int volume) {
    Trace("SetAudioVolumn(" + std::to_string(volume) + ")");
    std::lock_guard<std::mutex> lock(lock_);
    audioVolume_ = volume < 0 ? 0 : (volume > 255 ? 255 : volume);
    return true;
}

void NimRoom::Post(Event event) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!running_) return;
        events_.push_back(std::move(event));
    }
    wake_.notify_all();
}

// A level the way a meter shows speech: noise scaled by the device's volume.
std::string NimRoom::VolumeEventLocked(int type) {
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    int volume = type == kXNimDeviceMic ? micVolume_ : audioVolume_;
    int level = (type == kXNimDeviceMic && muted_) ? 0 : static_cast<int>(noise_ % 101) * volume / 255;
    Json::Value value(Json::objectValue);
    value["type"] = type;
    value["volumn"] = level;
    return Write(value);
}

void NimRoom::EventLoop() {
    std::unique_lock<std::mutex> lock(lock_);
    auto nextTick = std::chrono::steady_clock::now() + kVolumeTick;
    while (running_) {
        bool anyDevice = deviceRunning_[0] || deviceRunning_[1] || deviceRunning_[2];
        if (events_.empty()) {
            if (anyDevice) {
                wake_.wait_until(lock, nextTick);
            } else {
                wake_.wait(lock);
                nextTick = std::chrono::steady_clock::now() + kVolumeTick;
            }
        }
        if (!running_) break;
        std::deque<Event> batch;
        batch.swap(events_);
        if (std::chrono::steady_clock::now() >= nextTick) {
            nextTick += kVolumeTick;
            if (std::chrono::steady_clock::now() > nextTick) nextTick = std::chrono::steady_clock::now() + kVolumeTick;
            for (int type = 0; type < 3; ++type) {
                if (!deviceRunning_[static_cast<size_t>(type)]) continue;
                std::string text = VolumeEventLocked(type);
                batch.push_back([text](IXNimCallback& cb) { cb.OnAudioVolumn(text.c_str()); });
            }
        }
        IXNimCallback* callback = callback_;
        lock.unlock();
        for (Event& e : batch) {
            if (callback) e(*callback);
        }
        lock.lock();
    }
}

}  // namespace qmnim

namespace qmnim {
namespace {
std::mutex g_traceLock;
std::string g_trace;
}  // namespace

void Trace(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_trace += line;
    g_trace += '\n';
}

}  // namespace qmnim

QM_NIM_EXPORT IXNimObject* create_object() { return new qmnim::NimRoom(); }

QM_NIM_EXPORT void delete_object(IXNimObject* object) {
    // Only objects made by create_object come back here.
    delete static_cast<qmnim::NimRoom*>(object);
}

// Copies the call trace (one line per call) into `buffer` (zero-terminated,
// cut to `size`); returns the length of the whole trace.
QM_NIM_EXPORT size_t qm_nim_trace(char* buffer, size_t size) {
    std::lock_guard<std::mutex> lock(qmnim::g_traceLock);
    if (buffer && size > 0) {
        size_t n = qmnim::g_trace.size() < size - 1 ? qmnim::g_trace.size() : size - 1;
        std::memcpy(buffer, qmnim::g_trace.data(), n);
        buffer[n] = '\0';
    }
    return qmnim::g_trace.size();
}

QM_NIM_EXPORT void qm_nim_clear_trace() {
    std::lock_guard<std::mutex> lock(qmnim::g_traceLock);
    qmnim::g_trace.clear();
}

// Whether a login is waiting, and lets it go.
QM_NIM_EXPORT bool qm_nim_login_blocked() {
    std::lock_guard<std::mutex> lock(qmnim::g_blockLock);
    return qmnim::g_blocked;
}

QM_NIM_EXPORT void qm_nim_unblock_login() {
    {
        std::lock_guard<std::mutex> lock(qmnim::g_blockLock);
        qmnim::g_blocked = false;
    }
    qmnim::g_blockWake.notify_all();
}
