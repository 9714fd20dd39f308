#include "outside/qm_nim/nim_room.h"

#include <chrono>

#include <json/value.h>
#include <json/writer.h>

#include "outside/qm_nim/audio_devices.h"

namespace qmnim {
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

bool NimRoom::Login(const char* appKey, const char* user, const char* password) {
    Trace("Login(" + Text(appKey) + "," + Text(user) + "," + Text(password) + ")");
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
    for (const AudioDevice& d : EnumerateAudioDevices()) {
        for (int type : {kXNimDeviceMic, kXNimDeviceAudio, kXNimDeviceAudioPlay}) {
            bool fits = type == kXNimDeviceAudioPlay ? d.playback : d.capture;
            if (!fits) continue;
            Json::Value item(Json::objectValue);
            item["type"] = type;
            item["name"] = d.name;
            item["path"] = d.path;
            reply["devices"].append(item);
        }
    }
    std::string text = Write(reply);
    Post([text](IXNimCallback& cb) { cb.OnEnumDevice(text.c_str()); });
    return true;
}

// The default device (empty path) always opens; a named one must exist.
bool NimRoom::StartDevice(int type, const char* path, bool wantCapture) {
    std::string address = Text(path);
    bool ok = address.empty();
    if (!ok) {
        for (const AudioDevice& d : EnumerateAudioDevices()) {
            if (d.path == address && (wantCapture ? d.capture : d.playback)) ok = true;
        }
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
