// The microphone's processing end to end: qm_nim.so in peer processes, each
// "machine" with a private PulseAudio server, a real murmurd on 127.0.0.1,
// speech spoken by espeak-ng and noise played into the virtual microphones,
// an echo path from a virtual loudspeaker back into its microphone, and
// what the far end hears, or a member of the room counts, measured.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "outside/qm_nim/net/client_identity.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/session/voice_session.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"
#include "tests/nim/rigs/audio_measure.h"
#include "tests/nim/rigs/audio_rigs.h"

namespace qmtest {
namespace {

constexpr int kSpeechRoom = 0, kMusicRoom = 2;  // audio_mode
constexpr size_t kSecond = 48000;           // samples the recorders take a second (mono)

// A member of the room inside the test, counting the voice it is sent.
class Listener : public qmnim::session::SessionListener {
public:
    Listener(const MurmurServer& server, const std::string& name, const std::string& room) {
        qmnim::session::SessionOptions options;
        options.server.host = "127.0.0.1";
        options.server.port = static_cast<std::uint16_t>(server.port());
        options.server.pin = *qmnim::net::ParseFingerprint(server.fingerprint());
        std::string error;
        options.identity = qmnim::net::ClientIdentity::LoadOrCreate(profile_.path(), error);  // it makes the room
        session_ = std::make_unique<qmnim::session::VoiceSession>(options, this);
        if (session_->Login(name, MurmurServer::kServerPassword, 10s)) session_->Join(room);
    }
    ~Listener() { session_.reset(); }

    bool WaitJoined(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, timeout, [this] { return joined_; });
    }
    // Waits until `packets` more voice packets came than `since` (bounded).
    bool WaitPackets(std::uint64_t since, std::uint64_t packets, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, timeout, [&] { return packets_ >= since + packets; });
    }
    std::uint64_t packets() const {
        std::lock_guard<std::mutex> lock(lock_);
        return packets_;
    }
    // Opus bytes and each packet's few header bytes.
    std::uint64_t bytes() const {
        std::lock_guard<std::mutex> lock(lock_);
        return bytes_;
    }

private:
    void OnOnline(std::uint32_t, bool) override {}
    void OnOffline(const std::string&, bool) override {}
    void OnJoin(const qmnim::session::JoinResult& result) override {
        std::lock_guard<std::mutex> lock(lock_);
        joined_ = result.code == qmnim::session::kJoinOk;
        changed_.notify_all();
    }
    void OnMembersChanged() override {}
    void OnVoice(const qmnim::proto::ReceivedVoice& voice) override {
        std::lock_guard<std::mutex> lock(lock_);
        ++packets_;
        bytes_ += voice.opus.size() + 4;
        changed_.notify_all();
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool joined_ = false;
    std::uint64_t packets_ = 0, bytes_ = 0;
    TempDir profile_;
    std::unique_ptr<qmnim::session::VoiceSession> session_;
};

std::string DeployFor(const MurmurServer& server, const std::string& extra = "") {
    return VoiceDeploy(server.host(), server.fingerprint(), extra);
}

// A peer in `room` with its microphone and loudspeaker on.
std::unique_ptr<VoicePeer> InRoom(const std::string& name, const PulseServer& pulse, const std::string& room,
                                  int audioMode, const std::string& deploy) {
    return PeerInRoom(name, pulse.address(), deploy, room, "- 1 " + std::to_string(audioMode));
}

// Whether `peer` reports `member` speaking in a level event (bounded).
bool HearsMember(VoicePeer& peer, const std::string& member) {
    std::string level;
    for (int i = 0; i < 500 && peer.Next("event level ", &level, 20s); ++i) {
        const Json::Value event = ParseJson(level);
        for (const Json::Value& m : event["members"])
            if (m["uid"].asString() == member && m["speaking"].asBool()) return true;
    }
    ADD_FAILURE() << "last level event: " << level;
    return false;
}

struct EchoCall {
    double echo = 0;        // what the far end hears of itself while only it talks (dBFS, 5 s)
    double echoTypical = 0; // the same, the median of those five seconds
    std::string echoSeconds;  // each of those seconds, in order: where a leak came
    std::string account;      // the user's canceller on its run (from the user's log)
    double doubleTalk = 0;  // what it hears while both talk
    double userAlone = 0;   // what it hears while only the user talks
};

// The far end talks to a user whose loudspeaker is heard by the user's
// microphone 10 dB weaker and 200 ms late (a path the sound server's
// latencies do not show); the user answers while the far end still talks,
// then alone. Both are in a speech room with every stage on, as people talk;
// the user's case without a canceller differs only by echo_cancellation=off
// (its speech detector takes the echo for speech and sends it).
EchoCall Call(const MurmurServer& server, const std::string& room, int audioMode, const std::string& userSettings) {
    static const std::vector<short> farWords = SpeechSample(
        "The quick brown fox jumps over the lazy dog, and then it runs back into the forest. We are testing "
        "what comes back from the other side while we talk, sentence after sentence, without a pause.",
        -18);
    static const std::vector<short> userWords = SpeechSample(
        "Hello, can you hear me? I am answering while you are still speaking, and my words must get through.", -24);
    EchoCall call;
    PulseServer farMachine, userMachine;
    EXPECT_TRUE(farMachine.Start()) << farMachine.Log();
    EXPECT_TRUE(userMachine.Start()) << userMachine.Log();
    EchoLoop loop(userMachine.address(), -10, 200);
    EXPECT_TRUE(loop.active());
    auto far = InRoom("far", farMachine, room, audioMode, DeployFor(server));
    auto user = InRoom("user", userMachine, room, audioMode, DeployFor(server, userSettings));
    // The far end's first words come to a loudspeaker that paused in the silent room and takes its stream anew.
    EXPECT_TRUE(WaitLoudspeaker(userMachine.address(), false, 20s)) << "the user's loudspeaker plays on in silence";
    // What the far end hears. Nothing records on the user's machine: a new
    // stream there changes its sound server's latencies, and with them the loop's delay.
    Recorder heard(farMachine.address(), "spk.monitor");
    EXPECT_TRUE(heard.recording());
    auto farVoice = SoundPlayer::Samples(farMachine.address(), "micfeed", farWords);
    EXPECT_TRUE(HearsMember(*user, "far")) << "the user does not hear the far end";
    // The canceller learns the path from the far end's speech. Then the far
    // end pauses, long enough for the user's loudspeaker to let go of its
    // stream again, and what comes back of its next words is measured: the
    // canceller has to be right from the first of them.
    heard.Next(8s);
    farVoice.reset();
    EXPECT_TRUE(WaitLoudspeaker(userMachine.address(), false, 20s)) << "the user's loudspeaker does not pause";
    farVoice = SoundPlayer::Samples(farMachine.address(), "micfeed", farWords);
    EXPECT_TRUE(WaitLoudspeaker(userMachine.address(), true, 20s)) << "the far end's words do not wake the loudspeaker";
    {
        std::vector<short> echo = heard.Next(5s);
        call.echo = LevelDbfs(echo);
        std::vector<double> seconds;
        for (size_t from = 0; from + kSecond <= echo.size(); from += kSecond) {
            seconds.push_back(LevelDbfs(echo, from, kSecond));
            call.echoSeconds += (from ? ", " : "") + std::to_string(std::lround(seconds.back()));
        }
        std::sort(seconds.begin(), seconds.end());
        call.echoTypical = seconds.empty() ? 0 : seconds[seconds.size() / 2];
    }
    {
        auto userVoice = SoundPlayer::Samples(userMachine.address(), "micfeed", userWords);
        EXPECT_TRUE(heard.WaitFor([](const std::vector<short>& s) { return LevelDbfs(s) > -50; }, 1s, 20s))
            << "the far end does not hear the user";
        call.doubleTalk = LevelDbfs(heard.Next(5s));
        farVoice.reset();
        heard.Next(1s);  // the far end's last words on their way
        call.userAlone = LevelDbfs(heard.Next(5s));
    }
    // The canceller's account of the call goes to the log when the microphone ends.
    EXPECT_TRUE(user->Do("endmic 0"));
    std::istringstream log(user->Log());
    for (std::string line; std::getline(log, line);)
        if (line.find("microphone ended") != std::string::npos) call.account = line;
    return call;
}

class VoiceProcessing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::signal(SIGPIPE, SIG_IGN);  // a peer that dies fails its next command instead of ending the test
        server_ = new MurmurServer();
        ASSERT_TRUE(server_->Start()) << server_->Log();
        std::string error;
        ASSERT_TRUE(server_->GrantTemporaryChannels(&error)) << error << "\n" << server_->Log();
    }
    static void TearDownTestSuite() { delete server_; }

    static MurmurServer* server_;
};

MurmurServer* VoiceProcessing::server_ = nullptr;

TEST_F(VoiceProcessing, AUserOnLoudspeakersSendsTheRoomNoEchoButStillComesThrough) {
    EchoCall without = Call(*server_, "echo-off", kSpeechRoom, "echo_cancellation=off\n");
    EchoCall with = Call(*server_, "echo-on", kSpeechRoom, "");
    EXPECT_GT(without.echo, -50) << "the echo loop does not reach the far end: no case to compare with";
    // Most of the time the echo is gone; after the path moves (a loaded
    // machine's scheduling) the canceller leaks for a moment while it learns
    // again, which the whole window's level bounds.
    EXPECT_LT(with.echoTypical, without.echo - 40) << "the far end mostly hears itself at " << with.echoTypical
                                                   << " dBFS (by second: " << with.echoSeconds << "), "
                                                   << without.echo << " dBFS without a canceller\n" << with.account;
    EXPECT_LT(with.echo, without.echo - 20) << "the far end hears itself at " << with.echo << " dBFS, "
                                            << without.echo << " dBFS without a canceller\n" << with.account;
    EXPECT_NE(with.account.find("the echo came"), std::string::npos) << "the user's log has no account of the canceller";
    EXPECT_GT(with.userAlone, -50);
    EXPECT_GT(with.doubleTalk, with.userAlone - 6) << "the user is cut while both talk";
}

TEST_F(VoiceProcessing, AMicrophoneOfNoiseSendsNothingAndSpeechOverItIsSent) {
    PulseServer machine;
    ASSERT_TRUE(machine.Start()) << machine.Log();
    Listener listener(*server_, "counter", "noisy");
    ASSERT_TRUE(listener.WaitJoined(20s));
    auto user = InRoom("noisy", machine, "noisy", kSpeechRoom, DeployFor(*server_));
    auto noise = SoundPlayer::Noise(machine.address(), "micfeed", -50, true);
    // Ten seconds of the noise alone (the capture runs: the meter moves).
    auto start = std::chrono::steady_clock::now();
    std::uint64_t bytesBefore = listener.bytes();
    EXPECT_FALSE(listener.WaitPackets(listener.packets(), 1000000, 10s));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double rate = double(listener.bytes() - bytesBefore) / seconds;
    EXPECT_LE(rate, 1000) << "noise alone sends " << rate << " bytes a second";

    // Quiet speech, with a second's pause before it starts again.
    static const std::vector<short> words = SpeechSample(
        "Let us meet at the bridge in five minutes. Does anybody have a spare key? I will bring mine.", -30, 1000);
    auto speech = SoundPlayer::Samples(machine.address(), "micfeed", words);
    ASSERT_TRUE(listener.WaitPackets(listener.packets(), 1, 20s)) << "speech over the noise is not sent";
    // Over the next 5 s, sent most of the time (the words with their pauses, and the hangover).
    std::uint64_t from = listener.packets();
    listener.WaitPackets(from, 1000000, 5s);
    EXPECT_GE(listener.packets() - from, 150u) << "of 250 frames";
}

TEST_F(VoiceProcessing, AToneIntoTheMicrophoneReachesAMusicRoomSteady) {
    PulseServer playing, hearing;
    ASSERT_TRUE(playing.Start()) << playing.Log();
    ASSERT_TRUE(hearing.Start()) << hearing.Log();
    auto a = InRoom("player", playing, "music", kMusicRoom, DeployFor(*server_));
    auto b = InRoom("listener", hearing, "music", kMusicRoom, DeployFor(*server_));
    auto tone = SoundPlayer::Tone(playing.address(), "micfeed", 660, -24);
    Recorder heard(hearing.address(), "spk.monitor");
    ASSERT_TRUE(heard.recording());
    EXPECT_TRUE(heard.WaitFor([](const std::vector<short>& s) { return HasTone(s, 660); }, 800ms, 30s))
        << "the tone is not heard";
    // Long past the time a noise suppressor or a speech detector would have shut it off.
    double first = Loudness(heard.Next(500ms));
    std::vector<short> later = (heard.Next(3s), heard.Next(1s));
    EXPECT_GT(Loudness(later), first - 3) << "the tone fades";
    EXPECT_LE(CountSilentBlocks(later, -50), 5u) << "the tone is cut";
    EXPECT_NEAR(PeakFrequency(later), 660, 30);
}

TEST_F(VoiceProcessing, ASharedProgramsToneReachesASpeechRoomUnprocessed) {
    PulseServer sharing, hearing;
    ASSERT_TRUE(sharing.Start()) << sharing.Log();
    ASSERT_TRUE(hearing.Start()) << hearing.Log();
    auto a = InRoom("sharer", sharing, "talk-and-music", kSpeechRoom, DeployFor(*server_));
    auto b = InRoom("hearer", hearing, "talk-and-music", kSpeechRoom, DeployFor(*server_));
    TonePlayer player(sharing.address(), "-", 880, "music_player");
    // The device list names the program once it plays (starting it may take a while on a busy machine).
    std::string devices;
    auto until = std::chrono::steady_clock::now() + 30s;
    while (devices.find(player.exe()) == std::string::npos && std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(a->Do("enum"));
        ASSERT_TRUE(a->Next("event devices ", &devices, 10s));
    }
    ASSERT_TRUE(a->Do("share " + player.exe())) << a->Stderr();
    ASSERT_TRUE(a->Started(1));
    Recorder heard(hearing.address(), "spk.monitor");
    ASSERT_TRUE(heard.recording());
    EXPECT_TRUE(heard.WaitFor([](const std::vector<short>& s) { return HasTone(s, 880); }, 800ms, 30s))
        << "the shared tone is not heard";
    // Held steady for a long while: a noise suppressor would have taken it
    // for noise by now and a speech detector shut it off; neither is
    // allowed to (the playout's own small glitches are no concern here).
    double first = Loudness(heard.Next(500ms));
    std::vector<short> later = (heard.Next(3s), heard.Next(1s));
    EXPECT_GT(Loudness(later), first - 3) << "the shared tone fades";
    EXPECT_LE(CountSilentBlocks(later, -50), 5u) << "the shared tone is cut";
    EXPECT_NEAR(PeakFrequency(later), 880, 30) << "the shared tone is not what is heard";
}

}  // namespace
}  // namespace qmtest
