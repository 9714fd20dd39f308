// A voice-chat module whose rooms are as large as their name says: joining
// "members-N" answers, from a thread of its own, with N members, and with the
// room id and stream address exactly as the core module handed them over.
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/services/nim/xnim_interface.h"

#define BIG_ROOM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string JsonText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out;
}

class BigRoomObject final : public IXNimObject {
public:
    ~BigRoomObject() { Release(); }
    bool Init(const char*, IXNimCallback* callback) override {
        callback_ = callback;
        return true;
    }
    void Release() override {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads) t.join();
    }
    bool Login(const char*, const char*, const char*) override { return true; }
    void Logout() override {}
    bool JoinRoom(const char* roomId, const char* rtmpUrl, bool, int) override {
        std::string room = roomId, rtmp = rtmpUrl;
        std::lock_guard<std::mutex> lock(lock_);
        threads_.emplace_back([this, room, rtmp] {
            long members = room.rfind("members-", 0) == 0 ? std::strtol(room.c_str() + 8, nullptr, 10) : 1;
            std::string json = "{\"res\":200,\"channelId\":7,\"room_id\":\"" + JsonText(room) + "\",\"rtmp_url\":\"" +
                               JsonText(rtmp) + "\",\"members\":[";
            for (long i = 0; i < members; ++i)
                json += (i ? ",{\"uid\":\"member-" : "{\"uid\":\"member-") + std::to_string(1000000 + i) +
                        "\",\"session\":" + std::to_string(i + 1) + "}";
            json += "]}";
            callback_->OnJoinRoom(json.c_str());
        });
        return true;
    }
    bool LeaveRoom(const char*) override { return true; }
    bool EnumDevice() override { return true; }
    bool StartAudioPlayDevice(const char*) override { return true; }
    bool EndAudioPlayDevice() override { return true; }
    bool StartAudioDevice(const char*) override { return true; }
    bool EndAudioDevice() override { return true; }
    bool StartMicDevice(const char*, bool) override { return true; }
    bool EndMicDevice(bool) override { return true; }
    bool Reserved() override { return true; }
    bool SetViewerMode(bool) override { return true; }
    bool SetMuted(bool) override { return true; }
    bool SetMicVolumn(int) override { return true; }
    bool SetAudioVolumn(int) override { return true; }

private:
    IXNimCallback* callback_ = nullptr;
    std::mutex lock_;
    std::vector<std::thread> threads_;
};

}  // namespace

BIG_ROOM_EXPORT IXNimObject* create_object() { return new BigRoomObject(); }

BIG_ROOM_EXPORT void delete_object(IXNimObject* object) { delete static_cast<BigRoomObject*>(object); }
