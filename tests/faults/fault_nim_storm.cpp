// A voice-chat module whose working object raises its events from many
// threads at once: "_nim_enum_device" starts kThreads threads, each raising
// kEvents device, room and volume events; "_nim_start_audio_device" starts a
// volume stream that runs until the object is released (at most 20 s).
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/services/nim/xnim_interface.h"

#define FAULT_NIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kThreads = 8;
constexpr int kEvents = 25;

class StormObject final : public IXNimObject {
public:
    ~StormObject() { Release(); }
    bool Init(const char*, IXNimCallback* callback) override {
        callback_ = callback;
        return true;
    }
    void Release() override {
        stop_ = true;
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads) t.join();
    }
    bool Login(const char*, const char*, const char*) override { return true; }
    void Logout() override {}
    bool JoinRoom(const char*, const char*, bool, int) override { return true; }
    bool LeaveRoom(const char*) override { return true; }
    bool EnumDevice() override {
        std::lock_guard<std::mutex> lock(lock_);
        for (int t = 0; t < kThreads; ++t) {
            threads_.emplace_back([this, t] {
                for (int i = 0; i < kEvents && !stop_; ++i) {
                    std::string id = std::to_string(t) + "-" + std::to_string(i);
                    callback_->OnEnumDevice(("{\"devices\":[{\"type\":0,\"name\":\"storm-" + id +
                                             "\",\"path\":\"hw:" + id + "\"}]}").c_str());
                    callback_->OnJoinRoom(("{\"channelId\":" + std::to_string(t * 1000 + i) + ",\"storm\":\"" +
                                           id + "\"}").c_str());
                    callback_->OnAudioVolumn("{\"volumn\":50}");
                    callback_->OnStartDevice(kXNimDeviceMic, true);
                }
            });
        }
        return true;
    }
    bool StartAudioPlayDevice(const char*) override { return true; }
    bool EndAudioPlayDevice() override { return true; }
    bool StartAudioDevice(const char*) override {
        std::lock_guard<std::mutex> lock(lock_);
        threads_.emplace_back([this] {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!stop_ && std::chrono::steady_clock::now() < end) {
                callback_->OnAudioVolumn("{\"volumn\":7}");
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        return true;
    }
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
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::thread> threads_;
};

}  // namespace

FAULT_NIM_EXPORT IXNimObject* create_object() { return new StormObject(); }

FAULT_NIM_EXPORT void delete_object(IXNimObject* object) { delete static_cast<StormObject*>(object); }
