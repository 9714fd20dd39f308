// A voice-chat module whose working object raises its events from many
// threads at once: "_nim_enum_device" starts kThreads threads, each raising
// kEvents device, room and volume events; "_nim_start_audio_device" starts a
// volume stream that runs until the object is released (at most 20 s).
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/nim_stand_in.h"

namespace {

constexpr int kThreads = 8;
constexpr int kEvents = 25;

class StormObject final : public qmtest::NimStandIn {
public:
    ~StormObject() override { Release(); }
    bool EnumDevice() override {
        for (int t = 0; t < kThreads; ++t) {
            Spawn([this, t] {
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
    bool StartAudioDevice(const char*) override {
        Spawn([this] {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!stop_ && std::chrono::steady_clock::now() < end) {
                callback_->OnAudioVolumn("{\"volumn\":7}");
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        return true;
    }

private:
    void Stop() override { stop_ = true; }

    std::atomic<bool> stop_{false};
};

}  // namespace

QM_STAND_IN_EXPORT IXNimObject* create_object() { return new StormObject(); }

QM_STAND_IN_EXPORT void delete_object(IXNimObject* object) { delete static_cast<StormObject*>(object); }
