// A voice module for the core module's own tests: the module's two exports and
// object interface, recording every call it receives (qm_nim_trace) and
// answering as the real module does, with the real module's event shapes,
// from an event thread of its own. It simulates no room and no sound.
#include <condition_variable>
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

namespace {

std::mutex g_traceLock;
std::string g_trace;

void Trace(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_trace += line + '\n';
}

std::string Text(const char* s) { return s ? s : ""; }
std::string Flag(bool b) { return b ? "1" : "0"; }

std::string Write(const Json::Value& value) {
    Json::FastWriter writer;
    std::string text = writer.write(value);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// A login as "block" waits until the test lets it go (qm_nim_unblock_login),
// as a login to a slow server would.
std::mutex g_blockLock;
std::condition_variable g_blockWake;
bool g_blocked = false;

// The devices the real module lists on a machine with one microphone ("mic")
// and one loudspeaker ("spk").
struct Device {
    int type;
    const char* path;
    const char* name;
};
const Device kDevices[] = {{kXNimDeviceMic, "mic", "Microphone"},
                           {kXNimDeviceAudio, "", "Everything this machine plays"},
                           {kXNimDeviceAudioPlay, "spk", "Loudspeaker"}};

// Level events the real module sends while the user speaks (a started
// microphone in test mode hears itself): enough for two forwarded ones.
constexpr int kLevelsPerMicStart = 11;

class Recorder final : public IXNimObject {
public:
    ~Recorder() { Release(); }

    bool Init(const char* token, IXNimCallback* callback) override {
        Trace("Init(" + Text(token) + ")");
        std::lock_guard<std::mutex> lock(lock_);
        if (thread_.joinable() || !callback || Text(token).empty()) return false;
        callback_ = callback;
        running_ = true;
        thread_ = std::thread([this] { Deliver(); });
        return true;
    }
    void Release() override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (!thread_.joinable()) return;
            Trace("Release()");
            running_ = false;
        }
        wake_.notify_all();
        thread_.join();
        events_.clear();
    }
    bool Login(const char* appKey, const char* user, const char* password) override {
        Trace("Login(" + Text(appKey) + "," + Text(user) + "," + Text(password) + ")");
        if (Text(user) == "block") {
            std::unique_lock<std::mutex> lock(g_blockLock);
            g_blocked = true;
            g_blockWake.wait_for(lock, std::chrono::seconds(20), [] { return !g_blocked; });
            g_blocked = false;
        }
        if (Text(appKey).empty() || Text(user).empty() || Text(password).empty()) return false;
        user_ = user;
        Post([](IXNimCallback& cb) { cb.OnLogin(); });
        return true;
    }
    void Logout() override { Trace("Logout()"); }
    bool JoinRoom(const char* roomId, const char* rtmpUrl, bool highRate, int audioMode) override {
        Trace("JoinRoom(" + Text(roomId) + "," + Text(rtmpUrl) + "," + Flag(highRate) + "," +
              std::to_string(audioMode) + ")");
        if (Text(roomId).empty()) return false;
        Json::Value v(Json::objectValue);
        v["res"] = 200;
        v["room_id"] = Text(roomId);
        v["channelId"] = Json::UInt64(40 + Text(roomId).size());  // the server's channel
        v["uid"] = user_;
        v["viewer"] = false;
        v["audio_mode"] = audioMode;
        v["high_rate"] = highRate;
        v["rtmp_url"] = Text(rtmpUrl);
        v["members"] = Json::Value(Json::arrayValue);
        std::string text = Write(v);
        Post([text](IXNimCallback& cb) { cb.OnJoinRoom(text.c_str()); });
        return true;
    }
    bool LeaveRoom(const char* channelId) override {
        Trace("LeaveRoom(" + Text(channelId) + ")");
        return true;
    }
    bool EnumDevice() override {
        Trace("EnumDevice()");
        Json::Value list(Json::arrayValue);
        for (const Device& d : kDevices) {
            Json::Value item(Json::objectValue);
            item["type"] = d.type;
            item["path"] = d.path;
            item["name"] = d.name;
            item["default"] = true;
            list.append(item);
        }
        Json::Value v(Json::objectValue);
        v["devices"] = list;
        std::string text = Write(v);
        Post([text](IXNimCallback& cb) { cb.OnEnumDevice(text.c_str()); });
        return true;
    }
    bool StartAudioPlayDevice(const char* path) override {
        Trace("StartAudioPlayDevice(" + Text(path) + ")");
        return Start(kXNimDeviceAudioPlay, path);
    }
    bool EndAudioPlayDevice() override { return Ended("EndAudioPlayDevice()"); }
    bool StartAudioDevice(const char* path) override {
        Trace("StartAudioDevice(" + Text(path) + ")");
        return Start(kXNimDeviceAudio, path);
    }
    bool EndAudioDevice() override { return Ended("EndAudioDevice()"); }
    bool StartMicDevice(const char* path, bool test) override {
        Trace("StartMicDevice(" + Text(path) + "," + Flag(test) + ")");
        if (!Start(kXNimDeviceMic, path)) return false;
        for (int i = 1; i <= kLevelsPerMicStart; ++i) {
            Json::Value self(Json::objectValue);
            self["uid"] = user_;
            self["volumn"] = i;
            self["speaking"] = true;
            Json::Value v(Json::objectValue);
            v["self"] = self;
            v["members"] = Json::Value(Json::arrayValue);
            v["volumn"] = i;
            std::string text = Write(v);
            Post([text](IXNimCallback& cb) { cb.OnAudioVolumn(text.c_str()); });
        }
        return true;
    }
    bool EndMicDevice(bool test) override { return Ended("EndMicDevice(" + Flag(test) + ")"); }
    bool Reserved() override {
        Trace("Reserved()");
        return false;
    }
    bool SetViewerMode(bool viewer) override { return Ended("SetViewerMode(" + Flag(viewer) + ")"); }
    bool SetMuted(bool muted) override { return Ended("SetMuted(" + Flag(muted) + ")"); }
    bool SetMicVolumn(int volume) override { return Ended("SetMicVolumn(" + std::to_string(volume) + ")"); }
    bool SetAudioVolumn(int volume) override { return Ended("SetAudioVolumn(" + std::to_string(volume) + ")"); }

private:
    using Event = std::function<void(IXNimCallback&)>;

    static bool Ended(const std::string& call) {
        Trace(call);
        return true;
    }
    // The default device (empty path) always opens; a named one must be listed.
    bool Start(int type, const char* path) {
        bool ok = Text(path).empty();
        for (const Device& d : kDevices) ok = ok || (d.type == type && Text(path) == d.path);
        Post([type, ok](IXNimCallback& cb) { cb.OnStartDevice(type, ok); });
        return ok;
    }
    void Post(Event event) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (!running_) return;
            events_.push_back(std::move(event));
        }
        wake_.notify_all();
    }
    void Deliver() {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait(lock, [this] { return !running_ || !events_.empty(); });
            if (!running_) return;
            Event event = std::move(events_.front());
            events_.pop_front();
            lock.unlock();
            event(*callback_);
            lock.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    std::thread thread_;
    bool running_ = false;
    IXNimCallback* callback_ = nullptr;
    std::string user_;  // the module's worker calls one at a time
};

}  // namespace

QM_NIM_EXPORT IXNimObject* create_object() { return new Recorder(); }

QM_NIM_EXPORT void delete_object(IXNimObject* object) {
    // Only objects made by create_object come back here.
    delete static_cast<Recorder*>(object);
}

// Copies the call trace (one line per call) into `buffer` (zero-terminated,
// cut to `size`); returns the length of the whole trace.
QM_NIM_EXPORT size_t qm_nim_trace(char* buffer, size_t size) {
    std::lock_guard<std::mutex> lock(g_traceLock);
    if (buffer && size > 0) {
        size_t n = g_trace.size() < size - 1 ? g_trace.size() : size - 1;
        std::memcpy(buffer, g_trace.data(), n);
        buffer[n] = '\0';
    }
    return g_trace.size();
}

QM_NIM_EXPORT void qm_nim_clear_trace() {
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_trace.clear();
}

// Whether a login is waiting, and lets it go.
QM_NIM_EXPORT bool qm_nim_login_blocked() {
    std::lock_guard<std::mutex> lock(g_blockLock);
    return g_blocked;
}

QM_NIM_EXPORT void qm_nim_unblock_login() {
    {
        std::lock_guard<std::mutex> lock(g_blockLock);
        g_blocked = false;
    }
    g_blockWake.notify_all();
}
