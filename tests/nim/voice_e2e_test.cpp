// The voice module end to end: qm_nim.so in peer processes, each "machine"
// with a private PulseAudio server and virtual devices, a real murmurd on
// 127.0.0.1, tones played into virtual microphones and found by FFT in what
// the other side's virtual loudspeaker played.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <signal.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstring>
#include <memory>

#include <dlfcn.h>

#include "core/services/nim/xnim_interface.h"

#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

// Records `source` until the tone is there; bounded in tries.
bool Hears(const std::string& pulse, double hz, int tries = 20, const std::string& source = "spk.monitor") {
    for (int i = 0; i < tries; ++i) {
        if (HasTone(Record(pulse, source, std::chrono::milliseconds(800)), hz)) return true;
    }
    return false;
}

// Records until the tone has gone (quiet or another sound); bounded in tries.
bool StopsHearing(const std::string& pulse, double hz, int tries = 20) {
    for (int i = 0; i < tries; ++i) {
        std::vector<short> s = Record(pulse, "spk.monitor", std::chrono::milliseconds(800));
        if (!s.empty() && (Loudness(s) < -60 || EnergyNear(s, hz) < 0.05)) return true;
    }
    return false;
}

class Voice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new MurmurServer();
        ASSERT_TRUE(server_->Start()) << server_->Log();
        std::string error;
        ASSERT_TRUE(server_->GrantTemporaryChannels(&error)) << error << "\n" << server_->Log();
        pulseA_ = new PulseServer();
        pulseB_ = new PulseServer();
        ASSERT_TRUE(pulseA_->Start()) << pulseA_->Log();
        ASSERT_TRUE(pulseB_->Start()) << pulseB_->Log();
    }
    static void TearDownTestSuite() {
        delete pulseA_;
        delete pulseB_;
        delete server_;
    }

    std::string Deploy() const { return VoiceDeploy(server_->host(), server_->fingerprint()); }
    std::unique_ptr<VoicePeer> Peer(const std::string& name, PulseServer* pulse, const std::string& deploy = "") {
        auto p = std::make_unique<VoicePeer>(name, pulse->address(), deploy.empty() ? Deploy() : deploy);
        EXPECT_TRUE(p->Start()) << p->Stderr();
        return p;
    }
    // A peer logged in and in `room`, with its microphone and loudspeaker on.
    std::unique_ptr<VoicePeer> InRoom(const std::string& name, PulseServer* pulse, const std::string& room) {
        return PeerInRoom(name, pulse->address(), Deploy(), room);
    }

    static MurmurServer* server_;
    static PulseServer* pulseA_;
    static PulseServer* pulseB_;
};

MurmurServer* Voice::server_ = nullptr;
PulseServer* Voice::pulseA_ = nullptr;
PulseServer* Voice::pulseB_ = nullptr;

// --- logging in -----------------------------------------------------------------------------

TEST_F(Voice, LoginSucceedsOnlyWithTheRightPassword) {
    auto peer = Peer("alice", pulseA_);
    EXPECT_FALSE(peer->Login("alice", "wrong-password"));
    EXPECT_EQ(peer->CountLines("event login"), 0u);
    EXPECT_TRUE(peer->Login("alice", MurmurServer::kServerPassword));
    EXPECT_TRUE(peer->Next("event login", nullptr, 10s));
    // Nothing of the password reaches the peer's output or its log.
    for (const std::string& line : peer->Lines()) EXPECT_EQ(line.find(MurmurServer::kServerPassword), std::string::npos);
}

TEST_F(Voice, NoServerOrASilentOneFailsWithinTheBound) {
    // Nobody listens on this port.
    auto none = Peer("nobody", pulseA_, VoiceDeploy("127.0.0.1:" + std::to_string(FreePort()), server_->fingerprint()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(none->Login("nobody", "x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);

    // Someone accepts but never answers the handshake.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    auto silent = Peer("silent", pulseA_, VoiceDeploy("127.0.0.1:" + std::to_string(ntohs(a.sin_port)), server_->fingerprint()));
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(silent->Login("silent", "x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    close(listener);
}

TEST_F(Voice, ACertificateThatDoesNotMatchThePinIsRefused) {
    std::string wrong = server_->fingerprint();
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    auto peer = Peer("mallory", pulseA_, VoiceDeploy(server_->host(), wrong));
    EXPECT_FALSE(peer->Login("mallory", MurmurServer::kServerPassword));
    // The refusal happened in the handshake: the server never saw the user.
    EXPECT_EQ(server_->Log().find("mallory"), std::string::npos);
    // Upper case with colons is the same pin.
    std::string pretty;
    for (size_t i = 0; i < server_->fingerprint().size(); i += 2)
        pretty += (i ? ":" : "") + server_->fingerprint().substr(i, 2);
    for (char& c : pretty) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto good = Peer("mallory2", pulseA_, VoiceDeploy(server_->host(), pretty));
    EXPECT_TRUE(good->Login("mallory2", MurmurServer::kServerPassword));
}

TEST_F(Voice, WithoutAVoiceSectionEveryCommandFailsCleanly) {
    auto peer = Peer("nosection", pulseA_, "[frontend]\ndefault=127.0.0.1:1\n");
    EXPECT_FALSE(peer->Login("nosection", "x"));
    Json::Value joined = ParseJson(peer->Join("1001"));
    EXPECT_EQ(joined["res"].asInt(), 503) << joined;
    EXPECT_TRUE(peer->Do("leave"));
    EXPECT_TRUE(peer->Do("logout"));
}

// --- rooms -------------------------------------------------------------------------------------

TEST_F(Voice, RoomsAreChannelsNamedAfterTheRoomAndOddNamesAreEncoded) {
    auto a = Peer("ann", pulseA_);
    auto b = Peer("ben", pulseB_);
    ASSERT_TRUE(a->Login("ann", MurmurServer::kServerPassword));
    ASSERT_TRUE(b->Login("ben", MurmurServer::kServerPassword));
    Json::Value ja = ParseJson(a->Join("room/1"));  // the server's rule refuses "/": encoded
    ASSERT_EQ(ja["res"].asInt(), 200) << ja;
    EXPECT_EQ(ja["room_id"].asString(), "room/1");
    EXPECT_EQ(ja["uid"].asString(), "ann");
    Json::Value jb = ParseJson(b->Join("room/1"));
    ASSERT_EQ(jb["res"].asInt(), 200) << jb;
    EXPECT_EQ(jb["channelId"], ja["channelId"]);
    ASSERT_EQ(jb["members"].size(), 1u) << jb;
    EXPECT_EQ(jb["members"][0]["uid"].asString(), "ann");
    Json::Value plain = ParseJson(b->Join("Lobby-7"));
    ASSERT_EQ(plain["res"].asInt(), 200) << plain;
    EXPECT_NE(plain["channelId"], ja["channelId"]);
    EXPECT_NE(server_->Log().find("Lobby-7"), std::string::npos) << "a plain room id is the channel's own name";
    // Leaving goes back to the root channel; the empty temporary channel goes away.
    EXPECT_TRUE(b->Do("leave"));
}

// --- sound ------------------------------------------------------------------------------------

TEST_F(Voice, TonesCrossTheRoomBothWaysAndStopOnMuteViewerAndLeave) {
    auto a = InRoom("amy", pulseA_, "tones");
    auto b = InRoom("bob", pulseB_, "tones");
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    TonePlayer toneB(pulseB_->address(), "micfeed", 660);
    EXPECT_TRUE(Hears(pulseB_->address(), 440)) << "B does not hear A";
    EXPECT_TRUE(Hears(pulseA_->address(), 660)) << "A does not hear B";

    // B hears levels of A while A speaks: about 25 events a second, most of
    // them with A speaking at the tone's level (on a loaded machine a frame
    // made up for a late one plays quieter now and then). The events queued
    // while B waited to hear A belong to the start of A's talk: skipped.
    std::string level;
    b->Skip("event level ");
    ASSERT_TRUE(b->Next("event level ", &level, 10s));
    auto first = std::chrono::steady_clock::now();
    int amySpeaks = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(b->Next("event level ", &level, 5s));
        const Json::Value event = ParseJson(level);
        for (const Json::Value& m : event["members"])
            if (m["uid"].asString() == "amy" && m["speaking"].asBool() && m["volumn"].asInt() > 30) ++amySpeaks;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - first, 3000ms);
    EXPECT_GE(amySpeaks, 15) << "of 20 level events; the last: " << level;

    ASSERT_TRUE(a->Do("mute 1"));
    EXPECT_TRUE(StopsHearing(pulseB_->address(), 440)) << "mute";
    ASSERT_TRUE(a->Do("mute 0"));
    EXPECT_TRUE(Hears(pulseB_->address(), 440));

    ASSERT_TRUE(a->Do("viewer 1"));
    EXPECT_TRUE(StopsHearing(pulseB_->address(), 440)) << "viewer mode";
    EXPECT_TRUE(Hears(pulseA_->address(), 660)) << "a viewer still listens";
    ASSERT_TRUE(a->Do("viewer 0"));
    EXPECT_TRUE(Hears(pulseB_->address(), 440));

    ASSERT_TRUE(a->Do("leave"));
    EXPECT_TRUE(StopsHearing(pulseB_->address(), 440)) << "leave";
}

TEST_F(Voice, DifferentRoomsHearNothingOfEachOther) {
    auto a = InRoom("cat", pulseA_, "north");
    auto b = InRoom("dan", pulseB_, "south");
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    ASSERT_TRUE(a->Next("event level ", nullptr, 10s));  // A is sending
    EXPECT_TRUE(StopsHearing(pulseB_->address(), 440, 3));
    EXPECT_FALSE(Hears(pulseB_->address(), 440, 3));
}

TEST_F(Voice, AJoinRightAfterALeaveEndsInTheRoom) {
    auto a = InRoom("ida", pulseA_, "again");
    auto b = InRoom("jon", pulseB_, "again");  // keeps the temporary channel
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    ASSERT_TRUE(Hears(pulseB_->address(), 440));
    // The join is asked before the server has shown the leave back: its
    // answer must wait for the room, not take the channel being left for it.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(a->Do("leave"));
        ASSERT_EQ(ParseJson(a->Join("again"))["res"].asInt(), 200);
    }
    EXPECT_TRUE(Hears(pulseB_->address(), 440)) << "A is not in the room its join was answered for";
}

TEST_F(Voice, TestModePlaysTheMicrophoneLocallyAndSendsNothing) {
    auto a = Peer("eve", pulseA_);
    auto b = InRoom("fay", pulseB_, "mirror");
    ASSERT_TRUE(a->Login("eve", MurmurServer::kServerPassword));
    ASSERT_EQ(ParseJson(a->Join("mirror"))["res"].asInt(), 200);
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    ASSERT_TRUE(a->Do("mic - 1"));
    ASSERT_TRUE(a->Started(0));
    EXPECT_TRUE(Hears(pulseA_->address(), 440)) << "A does not hear itself";
    EXPECT_FALSE(Hears(pulseB_->address(), 440, 3)) << "test mode sent to the room";
    ASSERT_TRUE(a->Do("endmic 1"));
    EXPECT_TRUE(StopsHearing(pulseA_->address(), 440));
}

TEST_F(Voice, ASharedProgramIsHeardAndOtherProgramsAreNot) {
    auto a = Peer("gus", pulseA_);
    auto b = InRoom("hal", pulseB_, "music");
    ASSERT_TRUE(a->Login("gus", MurmurServer::kServerPassword));
    ASSERT_EQ(ParseJson(a->Join("music"))["res"].asInt(), 200);
    TonePlayer player(pulseA_->address(), "-", 880, "music_player");
    TonePlayer other(pulseA_->address(), "-", 550, "other_program");
    // The device list names the program once it plays (starting it may take a while on a busy machine).
    std::string devices;
    auto until = std::chrono::steady_clock::now() + 30s;
    while (devices.find(player.exe()) == std::string::npos && std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(a->Do("enum"));
        ASSERT_TRUE(a->Next("event devices ", &devices, 10s));
    }
    EXPECT_NE(devices.find(player.exe()), std::string::npos) << devices;
    ASSERT_TRUE(a->Do("share " + player.exe()));
    ASSERT_TRUE(a->Started(1));
    std::vector<short> heard;
    bool found = false;
    for (int i = 0; i < 20 && !found; ++i) {
        heard = Record(pulseB_->address(), "spk.monitor", 800ms);
        found = HasTone(heard, 880);
    }
    EXPECT_TRUE(found) << "B does not hear the shared program";
    EXPECT_LT(EnergyNear(heard, 550), 0.01) << "B hears a program that was not shared";
    // A program that does not run cannot be shared.
    ASSERT_TRUE(a->Do("share /usr/bin/no-such-player"));
    EXPECT_FALSE(a->Started(1));
}

TEST_F(Voice, TheModuleReconnectsAndRejoinsAfterTheServerRestarts) {
    auto a = InRoom("ivy", pulseA_, "phoenix");
    auto b = InRoom("jon", pulseB_, "phoenix");
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    ASSERT_TRUE(Hears(pulseB_->address(), 440));
    server_->Kill();
    ASSERT_TRUE(server_->Restart()) << server_->Log();
    ASSERT_TRUE(server_->GrantTemporaryChannels());
    std::string rejoinA, rejoinB;
    ASSERT_TRUE(a->Next("event join ", &rejoinA, 30s));
    ASSERT_TRUE(b->Next("event join ", &rejoinB, 30s));
    EXPECT_EQ(ParseJson(rejoinA)["res"].asInt(), 200) << rejoinA;
    EXPECT_EQ(ParseJson(rejoinB)["res"].asInt(), 200) << rejoinB;
    EXPECT_TRUE(ParseJson(rejoinB)["rejoin"].asBool());
    EXPECT_TRUE(Hears(pulseB_->address(), 440)) << "no sound after the reconnection";
}

TEST_F(Voice, ARoomWithAnRtmpAddressIsPublishedAsAacWithTheTone) {
    RtmpIngest ingest;
    ASSERT_TRUE(ingest.Start()) << ingest.Log();
    auto a = Peer("kim", pulseA_);
    ASSERT_TRUE(a->Login("kim", MurmurServer::kServerPassword));
    std::string url = ingest.Url("room42");
    Json::Value joined = ParseJson(a->Join("stage", url));
    ASSERT_EQ(joined["res"].asInt(), 200) << joined;
    EXPECT_EQ(joined["rtmp_url"].asString(), url);
    TonePlayer toneA(pulseA_->address(), "micfeed", 440);
    ASSERT_TRUE(a->Do("mic - 0"));
    ASSERT_TRUE(a->Started(0));
    std::string probe;
    bool aac = false;
    for (int i = 0; i < 20 && !aac; ++i) {
        qmtest::RunProcess({"/usr/bin/ffprobe", "-v", "error", "-analyzeduration", "500000", "-probesize", "4096",
                            "-show_entries", "stream=codec_name", "-of", "csv=p=0", url},
                           20s, {}, &probe);
        aac = probe.find("aac") != std::string::npos;
    }
    ASSERT_TRUE(aac) << probe << ingest.Log();
    qmtest::TempDir pulled;
    std::string raw = pulled.File("pulled.raw");
    qmtest::RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", url, "-t", "2", "-f", "s16le", "-ac", "1",
                        "-ar", "48000", raw},
                       30s);
    std::string bytes = qmtest::ReadFile(raw);
    std::vector<short> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    EXPECT_TRUE(HasTone(samples, 440)) << "pulled " << samples.size() << " samples, peak "
                                        << PeakFrequency(samples) << " Hz";
}

// --- life cycle ------------------------------------------------------------------------------

class Callbacks : public IXNimCallback {
public:
    bool OnLogin() override { return false; }
    bool OnJoinRoom(const char*) override { return true; }
    void OnEnumDevice(const char*) override {}
    void OnAudioVolumn(const char*) override {}
    void OnStartDevice(int, bool) override {}
};

size_t Count(const std::string& folder) { return qmtest::ListDir(folder).size(); }

long RssKb() {
    std::string status = qmtest::ReadFile("/proc/self/status");
    size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

// Everything a session starts (threads, sockets, the sound server's
// connection) ends with Release, a hundred times over.
TEST_F(Voice, InitAndReleaseLeaveNothingBehind) {
    qmtest::TempDir dir;
    qmtest::WriteFile(dir.File("deploy.ini"), Deploy());
    qmtest::ScopedEnv deploy("QM_DEPLOY_FILE", dir.File("deploy.ini"));
    qmtest::ScopedEnv pulse("PULSE_SERVER", pulseA_->address());
    void* module = dlopen((qmtest::BinDir() + "/qm_nim.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(module) << dlerror();
    auto create = reinterpret_cast<XNimCreateObjectFn>(dlsym(module, "create_object"));
    auto destroy = reinterpret_cast<XNimDeleteObjectFn>(dlsym(module, "delete_object"));
    Callbacks callbacks;
    auto cycle = [&](int i) {
        IXNimObject* nim = create();
        ASSERT_TRUE(nim->Init("9f8e7d6c5b4a39281706f5e4d3c2b1a0", &callbacks));
        EXPECT_FALSE(nim->Init("9f8e7d6c5b4a39281706f5e4d3c2b1a0", &callbacks));
        std::string user = "cycle" + std::to_string(i % 3);
        EXPECT_TRUE(nim->Login("0a1b2c3d4e5f60718293a4b5c6d7e8f9", user.c_str(), MurmurServer::kServerPassword));
        EXPECT_TRUE(nim->StartMicDevice("", false));
        nim->Release();
        nim->Release();  // twice is harmless
        destroy(nim);
    };
    for (int i = 0; i < 5; ++i) cycle(i);  // libraries' own one-time state settles
    size_t threads = Count("/proc/self/task"), fds = Count("/proc/self/fd");
    long rss = RssKb();
    for (int i = 0; i < 100; ++i) cycle(i);
    (void)rss;
    EXPECT_EQ(Count("/proc/self/task"), threads);
    EXPECT_EQ(Count("/proc/self/fd"), fds);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer keeps freed memory in quarantine; its leak check counts there
    EXPECT_LT(RssKb() - rss, 8 * 1024) << "kB grown over 100 cycles";
#endif
    dlclose(module);
}

}  // namespace
}  // namespace qmtest
