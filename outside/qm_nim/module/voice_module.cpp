#include "outside/qm_nim/module/voice_module.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include <json/value.h>
#include <json/writer.h>

#include "common/client_config.h"
#include "common/log_record.h"
#include "common/log_text.h"
#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/net/client_identity.h"
#include "outside/qm_nim/rtmp/rtmp_publisher.h"
#include "platform/text.h"

namespace qmnim {
namespace {

constexpr const char kLogSource[] = "qm_nim\\VoiceModule";
constexpr auto kLoginTimeout = std::chrono::milliseconds(4500);  // Login answers within 5 s
constexpr auto kLevelPeriod = std::chrono::milliseconds(40);     // 25 level events a second
constexpr auto kSpeakingWithin = std::chrono::milliseconds(300);

std::string Text(const char* s) { return s ? s : ""; }

std::string Write(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

constexpr size_t kMaxTalkers = 64;  // listed first in the members; more talk at once in no real room

// A copy of a secret on the heap whatever its length (a short string would
// keep it inside the object, here on the stack, where a crash dump finds it).
std::string HeapSecret(const char* text) {
    std::string secret;
    secret.reserve(std::max<size_t>(64, text ? std::strlen(text) + 1 : 0));
    if (text) secret.assign(text);
    return secret;
}

void Wipe(std::string& secret) {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

// The microphone's processing stages from the [voice] section; the ones turned off are logged.
audio::ProcessingSettings ProcessingOf(const DeployConfig& deploy) {
    audio::ProcessingSettings settings;
    struct Stage {
        const std::wstring& value;
        bool& on;
        const char* name;
    };
    for (const Stage& stage : {Stage{deploy.voiceEchoCancellation, settings.echoCancellation, "echo_cancellation"},
                               Stage{deploy.voiceNoiseSuppression, settings.noiseSuppression, "noise_suppression"},
                               Stage{deploy.voiceAutoGain, settings.autoGain, "auto_gain"},
                               Stage{deploy.voiceSpeechDetection, settings.speechDetection, "speech_detection"}}) {
        stage.on = audio::SwitchIsOn(platform::WideToUtf8(stage.value));
        if (!stage.on) QM_LOG(kLogSource) << "<qm_nim> [voice] " << stage.name << " is off";
    }
    return settings;
}

}  // namespace

VoiceModule::VoiceModule()
    : transmitter_(
          [this](std::string packet) {
              if (session::VoiceSession* s = liveSession_.load()) s->SendVoice(std::move(packet));
              LevelsActive();
          },
          [this](const std::int16_t* samples, size_t count) {
              std::lock_guard<std::mutex> lock(publishLock_);
              if (!publisher_) return;
              constexpr size_t kMaxOwn = 10 * audio::kFrameSamples;
              if (ownSound_.size() < kMaxOwn) ownSound_.insert(ownSound_.end(), samples, samples + count);
          },
          [this](const std::int16_t* samples, size_t count) {
              mix_.OnLocalSamples(samples, count);
              LevelsActive();
          }) {}

VoiceModule::~VoiceModule() { Release(); }

bool VoiceModule::Init(const char* token, IXNimCallback* callback) {
    if (!callback || Text(token).empty()) return false;
    DeployConfig deploy = DeployConfig::Load();
    // Outside lock_: the microphone's thread holds the transmitter's lock when it takes lock_.
    transmitter_.SetProcessing(ProcessingOf(deploy));
    std::lock_guard<std::mutex> lock(lock_);
    if (pump_) return false;
    callback_ = callback;
    pump_ = std::make_unique<EventPump>(callback, [this] { return LevelText(); }, kLevelPeriod,
                                        [this] { return MembersText(); });
    server_.reset();
    if (!deploy.hasVoice || deploy.voiceHost.empty()) {
        QM_LOG(kLogSource) << "<qm_nim> no [voice] host in the deployment file: voice chat is off";
    } else {
        std::string error;
        server_ = net::ParseVoiceServer(platform::WideToUtf8(deploy.voiceHost),
                                        platform::WideToUtf8(deploy.voiceFingerprint), error);
        if (!server_)
            QM_LOG(kLogSource) << "<qm_nim> [voice] section unusable, voice chat is off: " << PageTextForLog(error);
    }
    return true;
}

bool VoiceModule::SetHost(const XNimHost* host) {
    if (!host || host->size < offsetof(XNimHost, profileFolder) + sizeof host->profileFolder) return false;
    std::lock_guard<std::mutex> lock(lock_);
    hostCallbackVersion_.store(host->callbackVersion);
    profileFolder_ = Text(host->profileFolder);
    return true;
}

bool VoiceModule::Running() {
    std::lock_guard<std::mutex> lock(lock_);
    return pump_ != nullptr;
}

void VoiceModule::Release() {
    std::unique_ptr<EventPump> pump;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!pump_) return;
        pump.swap(pump_);
    }
    // The events first: what is queued is delivered, and the pump's thread,
    // which reads the session for levels and members, is gone before the
    // session goes. Then sound (its threads feed the session), the session
    // (its thread starts publishing), the publisher, the sound server.
    pump.reset();
    mic_.reset();
    program_.reset();
    play_.reset();
    testPlay_.reset();
    playing_.store(false);
    liveSession_.store(nullptr);
    session_.reset();
    StopPublishing();
    StopMixDriver();
    sound_.reset();
    transmitter_.SetInputActive(audio::Transmitter::Input::Mic, false);
    transmitter_.SetInputActive(audio::Transmitter::Input::Program, false);
    transmitter_.SetTestMode(false);
    transmitter_.SetSending(false);
    mix_.Clear();
    std::lock_guard<std::mutex> lock(lock_);
    callback_ = nullptr;
    identity_.reset();
    user_.clear();
    roomId_.clear();
    rtmpUrl_.clear();
    inRoom_.store(false);
    viewer_.store(false);
    muted_.store(false);
    testMode_.store(false);
    talking_.clear();
    selfTalking_ = false;
}

void VoiceModule::Post(EventPump::Event event) {
    std::lock_guard<std::mutex> lock(lock_);
    if (pump_) pump_->Post(std::move(event));
}

bool VoiceModule::Login(const char* appKey, const char* user, const char* password) {
    session::VoiceSession* s = nullptr;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!pump_ || Text(appKey).empty() || Text(user).empty()) return false;
        if (!server_) {
            QM_LOG(kLogSource) << "<qm_nim> login refused: no voice server configured";
            return false;
        }
        if (!session_) {
            if (!identity_ && !profileFolder_.empty()) {
                std::string error;
                identity_ = net::ClientIdentity::LoadOrCreate(profileFolder_, error);
                if (!identity_)
                    QM_LOG(kLogSource) << "<qm_nim> no client certificate (" << PageTextForLog(error)
                                       << "): rooms that do not exist yet cannot be made";
            }
            session::SessionOptions options;
            options.server = *server_;
            options.identity = identity_;
            session_ = std::make_unique<session::VoiceSession>(options, static_cast<session::SessionListener*>(this));
            liveSession_.store(session_.get());
        }
        s = session_.get();
        user_ = user;
        inRoom_.store(false);
    }
    std::string why;
    std::string secret = HeapSecret(password);
    bool ok = s->Login(user, secret, kLoginTimeout, &why);
    Wipe(secret);
    if (!ok) {
        QM_LOG(kLogSource) << "<qm_nim> login failed: " << PageTextForLog(why);
        return false;
    }
    Post([](IXNimCallback& cb) { cb.OnLogin(); });
    return true;
}

void VoiceModule::Logout() {
    session::VoiceSession* s = liveSession_.load();
    if (s) s->Logout();
    inRoom_.store(false);
    UpdateSending();
    mix_.Clear();
    StopPublishing();
}

bool VoiceModule::JoinRoom(const char* roomId, const char* rtmpUrl, bool highRate, int audioMode) {
    session::VoiceSession* s;
    bool configured;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!pump_) return false;
        roomId_ = Text(roomId);
        rtmpUrl_ = Text(rtmpUrl);
        highRate_ = highRate;
        audioMode_ = audioMode;
        s = session_.get();
        configured = server_.has_value();
    }
    if (!configured) {
        ReportJoin(session::kJoinNoServer, 0, "no voice server configured", false);
        return false;
    }
    if (!s) {
        ReportJoin(session::kJoinNotLoggedIn, 0, "not logged in", false);
        return false;
    }
    if (inRoom_.exchange(false)) {
        UpdateSending();
        mix_.Clear();
        StopPublishing();
    }
    ApplyRoomSettings();
    s->Join(Text(roomId));
    return true;
}

bool VoiceModule::LeaveRoom(const char*) {
    // The channel the core remembers may be stale after a reconnection: leave whatever room we are in.
    if (session::VoiceSession* s = liveSession_.load()) s->Leave();
    inRoom_.store(false);
    UpdateSending();
    mix_.Clear();
    StopPublishing();
    return true;
}

void VoiceModule::ApplyRoomSettings() {
    bool highRate;
    int audioMode;
    {
        std::lock_guard<std::mutex> lock(lock_);
        highRate = highRate_;
        audioMode = audioMode_;
    }
    session::VoiceSession* s = liveSession_.load();
    audio::OpusUse use = audio::UseOfAudioMode(audioMode);
    transmitter_.Configure(use, audio::ChooseBitrate(highRate, use, s ? s->maxBandwidth() : 0));
}

void VoiceModule::UpdateSending() { transmitter_.SetSending(inRoom_.load() && !viewer_.load()); }

void VoiceModule::ReportJoin(int code, std::uint32_t channelId, const std::string& error, bool rejoin) {
    Json::Value v(Json::objectValue);
    {
        std::lock_guard<std::mutex> lock(lock_);
        v["res"] = code;
        v["room_id"] = roomId_;
        v["channelId"] = Json::UInt64(channelId);
        v["uid"] = user_;
        v["viewer"] = viewer_.load();
        v["audio_mode"] = audioMode_;
        v["high_rate"] = highRate_;
        v["rtmp_url"] = rtmpUrl_;
    }
    if (!error.empty()) v["reason"] = error;
    if (rejoin) v["rejoin"] = true;
    // The others in the room: all of them in a room of ordinary size, the
    // first by session in a big one, as many as the members' budget allows
    // ("member_count" says how many there are; OnRoomMembers keeps the page
    // up to date).
    v["members"] = Json::Value(Json::arrayValue);
    size_t count = 0;
    session::MembersBudget budget;
    if (session::VoiceSession* s = liveSession_.load(); s && code == session::kJoinOk) {
        for (const session::Member& m : s->Members(session::kMaxListedMembers, &count)) {
            if (!budget.Take(m.name)) break;
            Json::Value member(Json::objectValue);
            member["uid"] = m.name;
            member["session"] = m.session;
            v["members"].append(member);
        }
    }
    v["member_count"] = Json::UInt64(count);
    std::string text = Write(v);
    Post([text](IXNimCallback& cb) { cb.OnJoinRoom(text.c_str()); });
}

// --- session events --------------------------------------------------------------------------

void VoiceModule::OnOnline(std::uint32_t, bool) { ApplyRoomSettings(); }

void VoiceModule::OnOffline(const std::string&, bool) {
    inRoom_.store(false);
    UpdateSending();
    mix_.Clear();
}

void VoiceModule::OnJoin(const session::JoinResult& result) {
    if (result.code == session::kJoinOk) {
        inRoom_.store(true);
        ApplyRoomSettings();
        UpdateSending();
        StartPublishing();
    }
    ReportJoin(result.code, result.channelId, result.reason, result.rejoin);
}

void VoiceModule::OnMembersChanged() { MembersChanged(); }

void VoiceModule::MembersChanged() {
    if (hostCallbackVersion_.load() < 2) return;  // the host has no OnRoomMembers
    std::lock_guard<std::mutex> lock(lock_);
    if (pump_) pump_->MembersChanged();
}

std::optional<std::string> VoiceModule::MembersText() {
    if (hostCallbackVersion_.load() < 2) return std::nullopt;
    session::VoiceSession* s = liveSession_.load();
    session::RoomView view = s ? s->Room(talking_) : session::RoomView{};
    return Write(session::RoomMembersJson(view, talking_, selfTalking_));
}

void VoiceModule::SetTalking(std::vector<std::uint32_t> talking, bool self) {
    std::sort(talking.begin(), talking.end());
    if (talking == talking_ && self == selfTalking_) return;
    talking_ = std::move(talking);
    selfTalking_ = self;
    MembersChanged();
}

void VoiceModule::OnVoice(const proto::ReceivedVoice& voice) {
    mix_.OnPacket(voice.session, voice.sequence, voice.opus, voice.last);
    LevelsActive();
}

void VoiceModule::OnPathLoss(int percent) { transmitter_.SetExpectedLoss(percent); }

void VoiceModule::LevelsActive() {
    std::lock_guard<std::mutex> lock(lock_);
    if (pump_) pump_->LevelsActive();
}

// Levels of the user and of the members who speak; nothing when nobody does.
// Who talks is noted on the way, for the members' "talking".
std::optional<std::string> VoiceModule::LevelText() {
    auto now = audio::RoomMix::Clock::now();
    bool sending = transmitter_.speaking();
    bool selfSpeaking = sending || (testMode_.load() && transmitter_.level() > 0);
    bool othersSpeaking = mix_.AnyoneSpeaking(now, kSpeakingWithin);
    if (!selfSpeaking && !othersSpeaking) {
        SetTalking({}, false);
        return std::nullopt;
    }
    Json::Value v(Json::objectValue);
    int selfLevel = selfSpeaking ? transmitter_.level() : 0;
    int loudest = selfLevel;
    Json::Value self(Json::objectValue);
    {
        std::lock_guard<std::mutex> lock(lock_);
        self["uid"] = user_;
    }
    self["volumn"] = selfLevel;
    self["speaking"] = selfSpeaking;
    v["self"] = self;
    Json::Value members(Json::arrayValue);
    std::vector<std::uint32_t> talking;
    session::VoiceSession* s = liveSession_.load();
    for (const audio::RoomMix::Level& l : mix_.Levels(now)) {
        if (!l.speaking || l.speaker == audio::RoomMix::kLocalSpeaker || talking.size() >= kMaxTalkers) continue;
        std::optional<std::string> name = s ? s->NameInRoom(l.speaker) : std::nullopt;
        if (!name) continue;  // not (or no longer) in the room
        Json::Value member(Json::objectValue);
        member["uid"] = *name;
        member["session"] = l.speaker;
        member["volumn"] = l.level;
        member["speaking"] = true;
        loudest = std::max(loudest, l.level);
        members.append(member);
        talking.push_back(l.speaker);
    }
    SetTalking(std::move(talking), sending);
    v["members"] = members;
    v["volumn"] = loudest;
    return Write(v);
}

// --- devices ---------------------------------------------------------------------------------

audio::PulseAudio& VoiceModule::Sound() {
    if (!sound_) sound_ = std::make_unique<audio::PulseAudio>();
    return *sound_;
}

bool VoiceModule::EnumDevice() {
    if (!Running()) return false;
    std::string error;
    std::vector<audio::SoundDevice> devices = Sound().Devices(&error);
    std::vector<audio::PlayingProgram> programs = error.empty() ? Sound().Programs(&error) : std::vector<audio::PlayingProgram>{};
    if (!error.empty()) QM_LOG(kLogSource) << "<qm_nim> listing sound devices: " << PageTextForLog(error);
    Json::Value v(Json::objectValue);
    Json::Value list(Json::arrayValue);
    auto add = [&list](int type, const std::string& path, const std::string& name, bool isDefault) {
        Json::Value d(Json::objectValue);
        d["type"] = type;
        d["path"] = path;
        d["name"] = name;
        if (isDefault) d["default"] = true;
        list.append(d);
    };
    for (const audio::SoundDevice& d : devices) {
        if (d.kind == audio::SoundDevice::Source) add(kXNimDeviceMic, d.id, d.name, d.isDefault);
    }
    if (error.empty()) add(kXNimDeviceAudio, "", "Everything this machine plays", true);
    std::vector<std::string> seen;
    for (const audio::PlayingProgram& p : programs) {
        if (p.exePath.empty() || std::find(seen.begin(), seen.end(), p.exePath) != seen.end()) continue;
        seen.push_back(p.exePath);
        add(kXNimDeviceAudio, p.exePath, p.name.empty() ? p.exePath : p.name, false);
    }
    for (const audio::SoundDevice& d : devices) {
        if (d.kind == audio::SoundDevice::Sink) add(kXNimDeviceAudioPlay, d.id, d.name, d.isDefault);
    }
    v["devices"] = list;
    if (!error.empty()) v["reason"] = error;
    std::string text = Write(v);
    Post([text](IXNimCallback& cb) { cb.OnEnumDevice(text.c_str()); });
    return true;
}

void VoiceModule::Played(std::int16_t* samples, size_t count) {
    {
        std::lock_guard<std::mutex> lock(publishLock_);
        if (publisher_) {
            std::vector<std::int16_t> mixed(samples, samples + count);
            size_t own = std::min(count, ownSound_.size());
            audio::MixInto(mixed.data(), ownSound_.data(), own, 1.0f);
            ownSound_.erase(ownSound_.begin(), ownSound_.begin() + static_cast<std::ptrdiff_t>(own));
            publisher_->Push(mixed.data(), count);
        }
    }
    audio::ApplyGain(samples, count, playGain_.load());
}

bool VoiceModule::PlaybackIdle() {
    {
        // A published room takes the mix at the loudspeaker's pace, silence and all.
        std::lock_guard<std::mutex> lock(publishLock_);
        if (publisher_) return false;
    }
    return mix_.Idle();
}

bool VoiceModule::StartAudioPlayDevice(const char* path) {
    if (!Running()) return false;
    play_.reset();
    std::string error;
    play_ = Sound().Play(
        Text(path),
        [this](std::int16_t* out, size_t n) {
            mix_.Pull(out, n);
            Played(out, n);
        },
        error,
        [this](const std::int16_t* s, size_t n, audio::PulseAudio::Clock::time_point heard) {
            transmitter_.OnPlayed(s, n, heard);  // the echo the microphone will hear
        },
        [this] { return PlaybackIdle(); });
    bool ok = play_ != nullptr;
    if (!ok)
        QM_LOG(kLogSource) << "<qm_nim> loudspeaker \"" << PageTextForLog(Text(path)) << "\" does not start: "
                           << PageTextForLog(error);
    if (ok) testPlay_.reset();  // the test sound now plays here
    SetPlaying(play_ || testPlay_);
    Post([ok](IXNimCallback& cb) { cb.OnStartDevice(kXNimDeviceAudioPlay, ok); });
    return ok;
}

bool VoiceModule::EndAudioPlayDevice() {
    play_.reset();
    SetPlaying(testPlay_ != nullptr);
    return true;
}

void VoiceModule::SetPlaying(bool playing) {
    playing_.store(playing);
    UpdateMixDriver();
}

bool VoiceModule::StartAudioDevice(const char* path) {
    if (!Running()) return false;
    program_.reset();
    transmitter_.SetInputActive(audio::Transmitter::Input::Program, false);
    std::string error;
    program_ = Sound().CaptureProgram(Text(path), [this](const std::int16_t* s, size_t n) {
        transmitter_.OnSamples(audio::Transmitter::Input::Program, s, n);
    }, error);
    bool ok = program_ != nullptr;
    if (!ok)
        QM_LOG(kLogSource) << "<qm_nim> sharing \"" << PageTextForLog(Text(path)) << "\" does not start: "
                           << PageTextForLog(error);
    transmitter_.SetInputActive(audio::Transmitter::Input::Program, ok);
    Post([ok](IXNimCallback& cb) { cb.OnStartDevice(kXNimDeviceAudio, ok); });
    return ok;
}

bool VoiceModule::EndAudioDevice() {
    program_.reset();
    transmitter_.SetInputActive(audio::Transmitter::Input::Program, false);
    return true;
}

bool VoiceModule::StartMicDevice(const char* path, bool test) {
    if (!Running()) return false;
    mic_.reset();
    transmitter_.SetInputActive(audio::Transmitter::Input::Mic, false);
    transmitter_.SetTestMode(test);
    testMode_.store(test);
    std::string error;
    mic_ = Sound().Capture(
        Text(path),
        [this](const std::int16_t* s, size_t n, audio::PulseAudio::Clock::time_point heard) {
            transmitter_.OnSamples(audio::Transmitter::Input::Mic, s, n, heard);
        },
        error);
    bool ok = mic_ != nullptr;
    if (!ok)
        QM_LOG(kLogSource) << "<qm_nim> microphone \"" << PageTextForLog(Text(path)) << "\" does not start: "
                           << PageTextForLog(error);
    if (ok && test && !play_ && !testPlay_) {
        // Hearing oneself needs a loudspeaker: the default one, until the page starts its own.
        testPlay_ = Sound().Play(
            "",
            [this](std::int16_t* out, size_t n) {
                mix_.Pull(out, n);
                Played(out, n);
            },
            error,
            [this](const std::int16_t* s, size_t n, audio::PulseAudio::Clock::time_point heard) {
                transmitter_.OnPlayed(s, n, heard);
            },
            [this] { return PlaybackIdle(); });
        SetPlaying(play_ || testPlay_);
    }
    transmitter_.SetInputActive(audio::Transmitter::Input::Mic, ok);
    Post([ok](IXNimCallback& cb) { cb.OnStartDevice(kXNimDeviceMic, ok); });
    return ok;
}

bool VoiceModule::EndMicDevice(bool) {
    mic_.reset();
    // For a user who hears themselves: where the canceller found the echo, and how often it lost it.
    if (std::optional<audio::Transmitter::EchoAccount> echo = transmitter_.echoAccount())
        QM_LOG(kLogSource) << "<qm_nim> microphone ended: the echo came " << echo->pathDelayMs
                           << " ms after the sound server's latencies; the canceller's reference slipped "
                           << echo->moves + echo->steps << " times (" << echo->moves << " to the echo, " << echo->steps
                           << " with the capture)";
    transmitter_.SetInputActive(audio::Transmitter::Input::Mic, false);
    if (testMode_.exchange(false)) {
        transmitter_.SetTestMode(false);
        testPlay_.reset();
        mix_.Forget(audio::RoomMix::kLocalSpeaker);
        SetPlaying(play_ != nullptr);
    }
    return true;
}

bool VoiceModule::Reserved() { return false; }

bool VoiceModule::SetViewerMode(bool viewer) {
    viewer_.store(viewer);
    UpdateSending();
    if (session::VoiceSession* s = liveSession_.load()) s->SetSelfMute(viewer || muted_.load());
    return true;
}

bool VoiceModule::SetMuted(bool muted) {
    muted_.store(muted);
    transmitter_.SetMuted(muted);
    if (session::VoiceSession* s = liveSession_.load()) s->SetSelfMute(muted || viewer_.load());
    return true;
}

bool VoiceModule::SetMicVolumn(int volume) {
    transmitter_.SetMicGain(audio::GainOfVolume(volume));
    return true;
}

bool VoiceModule::SetAudioVolumn(int volume) {
    playGain_.store(audio::GainOfVolume(volume));
    return true;
}

// --- publishing ------------------------------------------------------------------------------

void VoiceModule::StartPublishing() {
    std::string url;
    {
        std::lock_guard<std::mutex> lock(lock_);
        url = rtmpUrl_;
    }
    {
        std::lock_guard<std::mutex> lock(publishLock_);
        if (url.empty() || publisher_) return;
        publisher_ = std::make_unique<rtmp::RtmpPublisher>(url);
        ownSound_.clear();
    }
    UpdateMixDriver();
}

void VoiceModule::StopPublishing() {
    std::unique_ptr<rtmp::RtmpPublisher> old;
    {
        std::lock_guard<std::mutex> lock(publishLock_);
        old.swap(publisher_);
        ownSound_.clear();
    }
    old.reset();
    UpdateMixDriver();
}

// Without a loudspeaker nothing takes the room's mix at its pace; when it is
// published, a thread of ours does, every 10 ms by the clock.
void VoiceModule::StopMixDriver() {
    std::lock_guard<std::mutex> lock(driverLock_);
    mixDriverRun_.store(false);
    if (mixDriver_.joinable()) mixDriver_.join();
}

void VoiceModule::UpdateMixDriver() {
    bool needed;
    {
        std::lock_guard<std::mutex> lock(publishLock_);
        needed = publisher_ && !playing_.load();
    }
    std::lock_guard<std::mutex> lock(driverLock_);
    if (needed == mixDriverRun_.load()) return;
    mixDriverRun_.store(false);
    if (mixDriver_.joinable()) mixDriver_.join();
    if (!needed) return;
    mixDriverRun_.store(true);
    mixDriver_ = std::thread([this] {
        std::vector<std::int16_t> chunk(10 * audio::kSamplesPerMs);
        auto next = std::chrono::steady_clock::now();
        while (mixDriverRun_.load()) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            mix_.Pull(chunk.data(), chunk.size());
            Played(chunk.data(), chunk.size());
        }
    });
}

}  // namespace qmnim
