// The voice module's object: the binary interface the core module binds
// (IXNimObject), mapped onto a session with the voice server, the sound
// devices and the room's mix.
//
// Threads: the calls come from the core module (one caller at a time, in
// order); events leave through the event pump's thread; the session, the
// sound server and the publisher have threads of their own. Release() stops
// and joins all of them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/services/nim/xnim_interface.h"
#include "outside/qm_nim/audio/pulse_audio.h"
#include "outside/qm_nim/audio/room_mix.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/module/event_pump.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/session/voice_session.h"

namespace qmnim {

namespace net {
class ClientIdentity;
}
namespace rtmp {
class RtmpPublisher;
}

class VoiceModule final : public IXNimObject, private session::SessionListener {
public:
    VoiceModule();
    ~VoiceModule();
    VoiceModule(const VoiceModule&) = delete;
    VoiceModule& operator=(const VoiceModule&) = delete;

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
    bool SetHost(const XNimHost* host) override;

    // Measurements for benchmarks and tests.
    std::uint64_t framesSent() const { return transmitter_.framesSent(); }
    std::uint64_t framesReceived() const { return mix_.framesReceived(); }

private:
    // SessionListener (session thread).
    void OnOnline(std::uint32_t maxBandwidth, bool reconnected) override;
    void OnOffline(const std::string& reason, bool retrying) override;
    void OnJoin(const session::JoinResult& result) override;
    void OnMembersChanged() override;
    void OnVoice(const proto::ReceivedVoice& voice) override;
    void OnPathLoss(int percent) override;

    void Post(EventPump::Event event);
    // Init has run and Release has not: calls may use the pump and the devices.
    bool Running();
    // Someone speaks: level events flow until nobody does.
    void LevelsActive();
    void ReportJoin(int code, std::uint32_t channelId, const std::string& error, bool rejoin);
    std::optional<std::string> LevelText();
    // The room's members for OnRoomMembers; nullopt when the host lacks that event.
    std::optional<std::string> MembersText();
    void MembersChanged();
    // Who talks now changed (pump thread): the members are sent again.
    void SetTalking(std::vector<std::uint32_t> talking, bool self);
    audio::PulseAudio& Sound();
    void ApplyRoomSettings();
    void UpdateSending();
    // The room's sound as it is played (unit gain), for the publisher.
    void Played(std::int16_t* samples, size_t count);
    // Whether the loudspeaker may pause: nothing to play, nothing published.
    bool PlaybackIdle();
    void StartPublishing();
    void StopPublishing();
    void UpdateMixDriver();
    void StopMixDriver();
    void SetPlaying(bool playing);

    std::mutex lock_;  // everything below that is not atomic
    IXNimCallback* callback_ = nullptr;
    std::unique_ptr<EventPump> pump_;
    std::optional<net::ServerEndpoint> server_;
    std::string profileFolder_;   // from the host (SetHost)
    std::atomic<std::uint32_t> hostCallbackVersion_{1};
    std::shared_ptr<const net::ClientIdentity> identity_;
    std::unique_ptr<session::VoiceSession> session_;
    std::atomic<session::VoiceSession*> liveSession_{nullptr};

    audio::RoomMix mix_;
    audio::Transmitter transmitter_;
    std::unique_ptr<audio::PulseAudio> sound_;
    std::unique_ptr<audio::PulseAudio::Stream> mic_, program_, play_, testPlay_;

    std::string user_;
    std::string roomId_, rtmpUrl_;
    bool highRate_ = true;
    int audioMode_ = 2;
    std::atomic<bool> inRoom_{false};
    std::atomic<bool> viewer_{false};
    std::atomic<bool> muted_{false};
    std::atomic<bool> testMode_{false};
    std::atomic<float> playGain_{1.0f};
    // Who talks, as last sampled (the pump's thread only).
    std::vector<std::uint32_t> talking_;
    bool selfTalking_ = false;

    // The publisher and the user's own sound waiting to join the published mix.
    std::mutex publishLock_;
    std::unique_ptr<rtmp::RtmpPublisher> publisher_;
    std::vector<std::int16_t> ownSound_;
    // Pulls the room's mix at its pace when nothing plays it (publishing only).
    std::atomic<bool> playing_{false};  // a loudspeaker (or the test one) takes the mix
    std::mutex driverLock_;
    std::thread mixDriver_;
    std::atomic<bool> mixDriverRun_{false};
};

}  // namespace qmnim
