// The room as its participants see it, end to end: peers (qm_nim.so in
// voice_peer processes, each with its own sound server) on a real murmurd and
// on the scripted hostile server, in a private network namespace. Who joins,
// leaves, mutes and talks reaches the others as members events; rooms named
// in any script meet the channel of that name; big rooms, floods, broken
// sessions and hostile texts leave the module usable and its log honest.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include <functional>

#include "tests/support/logs.h"
#include "tests/nim/rigs/hostile_server.h"
#include "tests/nim/rigs/mumble_client.h"
#include "tests/nim/rigs/murmur_admin.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

namespace vw = voicewire;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The next members event of `peer` for which `match` holds (earlier ones are
// taken on the way); null when none came within `timeout`. With `last`, the
// room as the last event taken showed it: checked first, kept up to date.
Json::Value WaitMembers(VoicePeer& peer, const std::function<bool(const Json::Value&)>& match,
                        std::chrono::milliseconds timeout = 20s, Json::Value* last = nullptr) {
    if (last && !last->isNull() && match(*last)) return *last;
    auto until = Clock::now() + timeout;
    std::string text;
    while (Clock::now() < until) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (!peer.Next("event members ", &text, left)) break;
        Json::Value v = ParseJson(text);
        if (last) *last = v;
        if (match(v)) return v;
    }
    return Json::Value();
}

// The member named `uid` in a members event, or null.
Json::Value Member(const Json::Value& members, const std::string& uid) {
    for (const Json::Value& m : members["members"])
        if (m["uid"].asString() == uid) return m;
    return Json::Value();
}

const char* const kArabic = "\xD8\xBA\xD8\xB1\xD9\x81\xD8\xA9";  // "ghurfa"
const char* const kThai = "\xE0\xB8\xAB\xE0\xB9\x89\xE0\xB8\xAD\xE0\xB8\x87";  // with a tone mark
const char* const kHebrew = "\xD7\x97\xD6\xB6\xD7\x93\xD6\xB6\xD7\xA8";  // with points
const char* const kDevanagari = "\xE0\xA4\x95\xE0\xA4\xAE\xE0\xA4\xB0\xE0\xA4\xBE";  // with a vowel sign

class RoomOnMurmur : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new MurmurServer();
        ASSERT_TRUE(server_->Start()) << server_->Log();
        ASSERT_TRUE(server_->GrantTemporaryChannels());
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
    static std::string Deploy() { return VoiceDeploy(server_->host(), server_->fingerprint()); }
    std::unique_ptr<VoicePeer> Peer(const std::string& name, PulseServer* pulse,
                                    const std::vector<std::string>& args = {}) {
        auto p = std::make_unique<VoicePeer>(name, pulse->address(), Deploy());
        EXPECT_TRUE(p->Start(args)) << p->Stderr();
        EXPECT_TRUE(p->Login(name, MurmurServer::kServerPassword)) << p->Stderr();
        return p;
    }
    // In `room` with microphone and loudspeaker on.
    std::unique_ptr<VoicePeer> InRoom(const std::string& name, PulseServer* pulse, const std::string& room,
                                      const std::vector<std::string>& args = {}) {
        return PeerInRoom(name, pulse->address(), Deploy(), room, "", args);
    }

    static MurmurServer* server_;
    static PulseServer* pulseA_;
    static PulseServer* pulseB_;
};

MurmurServer* RoomOnMurmur::server_ = nullptr;
PulseServer* RoomOnMurmur::pulseA_ = nullptr;
PulseServer* RoomOnMurmur::pulseB_ = nullptr;

TEST_F(RoomOnMurmur, RoomsNamedInAnyScriptMeetTheChannelOfThatName) {
    auto peer = Peer("polyglot", pulseA_);
    MurmurAdmin admin(server_->port(), MurmurServer::kSuperUserPassword);
    for (const char* name : {kArabic, kThai, kHebrew, kDevanagari}) {
        std::optional<std::uint32_t> made = admin.MakeChannel(name);
        ASSERT_TRUE(made) << name << "\n" << server_->Log();
        Json::Value joined = ParseJson(peer->Join(name));
        ASSERT_EQ(joined["res"].asInt(), 200) << joined;
        EXPECT_EQ(joined["channelId"].asUInt(), *made) << name << " became another channel";
        EXPECT_EQ(joined["room_id"].asString(), name);
        Json::Value members = WaitMembers(*peer, [&](const Json::Value& m) { return m["channelId"] == joined["channelId"]; });
        EXPECT_EQ(members["room_id"].asString(), name) << members;
    }
    // A room nobody made yet is made under its own name: the operator finds
    // it by that name.
    const std::string fresh = std::string(kThai) + "2";
    Json::Value made = ParseJson(peer->Join(fresh));
    ASSERT_EQ(made["res"].asInt(), 200);
    EXPECT_EQ(admin.MakeChannel(fresh), std::optional<std::uint32_t>(made["channelId"].asUInt()))
        << "the module made the room under another name";
    // Beyond the BMP the server's rule refuses the name: encoded, and still a room.
    Json::Value astral = ParseJson(peer->Join("\xF0\xA0\x80\x80"));
    EXPECT_EQ(astral["res"].asInt(), 200) << astral;
    EXPECT_EQ(astral["room_id"].asString(), "\xF0\xA0\x80\x80");
}

TEST_F(RoomOnMurmur, EachSideSeesTheOtherJoinMuteTalkAndLeave) {
    auto amy = InRoom("amy", pulseA_, "roster");
    Json::Value alone = WaitMembers(*amy, [](const Json::Value& m) { return m["count"].asUInt() == 1; });
    ASSERT_FALSE(alone.isNull());
    EXPECT_EQ(alone["room_id"].asString(), "roster");
    EXPECT_TRUE(alone["members"][0]["self"].asBool());
    EXPECT_EQ(alone["members"][0]["uid"].asString(), "amy");

    auto bob = InRoom("bob", pulseB_, "roster");
    Json::Value seen = WaitMembers(*amy, [](const Json::Value& m) { return !Member(m, "bob").isNull(); });
    ASSERT_FALSE(seen.isNull()) << "amy does not see bob join";
    EXPECT_EQ(seen["count"].asUInt(), 2u);
    EXPECT_FALSE(Member(seen, "bob")["muted"].asBool());
    EXPECT_FALSE(Member(seen, "bob")["talking"].asBool());
    Json::Value bobs = WaitMembers(*bob, [](const Json::Value& m) { return !Member(m, "amy").isNull(); });
    ASSERT_FALSE(bobs.isNull()) << "bob does not see amy";
    EXPECT_TRUE(Member(bobs, "bob")["self"].asBool());

    ASSERT_TRUE(bob->Do("mute 1"));
    EXPECT_FALSE(WaitMembers(*amy, [](const Json::Value& m) { return Member(m, "bob")["muted"].asBool(); }).isNull())
        << "amy does not see bob mute";
    ASSERT_TRUE(bob->Do("mute 0"));
    EXPECT_FALSE(WaitMembers(*amy, [](const Json::Value& m) {
                     return Member(m, "bob").isObject() && !Member(m, "bob")["muted"].asBool();
                 }).isNull());

    {
        TonePlayer voice(pulseB_->address(), "micfeed", 440);
        EXPECT_FALSE(WaitMembers(*amy, [](const Json::Value& m) { return Member(m, "bob")["talking"].asBool(); })
                         .isNull())
            << "amy does not see bob talk";
        EXPECT_FALSE(WaitMembers(*bob, [](const Json::Value& m) { return Member(m, "bob")["talking"].asBool(); })
                         .isNull())
            << "bob does not see himself talk";
    }
    EXPECT_FALSE(WaitMembers(*amy, [](const Json::Value& m) {
                     return Member(m, "bob").isObject() && !Member(m, "bob")["talking"].asBool();
                 }).isNull())
        << "bob stopped talking";

    ASSERT_TRUE(bob->Do("leave"));
    EXPECT_FALSE(WaitMembers(*amy, [](const Json::Value& m) {
                     return m["count"].asUInt() == 1 && Member(m, "bob").isNull();
                 }).isNull())
        << "amy does not see bob leave";
    Json::Value gone = WaitMembers(*bob, [](const Json::Value& m) { return m["channelId"].asUInt() == 0; });
    EXPECT_EQ(gone["room_id"].asString(), "");
    EXPECT_EQ(gone["members"].size(), 0u);
}

TEST_F(RoomOnMurmur, AHostWithoutTheMembersEventNeverGetsOne) {
    // The newer host makes the room: the older one passes no profile folder,
    // so the module has no client certificate to make rooms with.
    auto cur = InRoom("newhost", pulseB_, "compat");
    auto old = InRoom("oldhost", pulseA_, "compat", {"--host-version", "1"});
    ASSERT_FALSE(WaitMembers(*cur, [](const Json::Value& m) { return !Member(m, "oldhost").isNull(); }).isNull());
    {
        TonePlayer voice(pulseB_->address(), "micfeed", 440);
        ASSERT_TRUE(old->Next("event level ", nullptr, 20s)) << "the older host still gets its levels";
    }
    ASSERT_TRUE(cur->Do("mute 1"));
    ASSERT_TRUE(cur->Do("leave"));
    // The newer host saw its own leave: by then the older one had every chance.
    ASSERT_FALSE(WaitMembers(*cur, [](const Json::Value& m) { return m["channelId"].asUInt() == 0; }).isNull());
    ASSERT_TRUE(old->Do("leave"));
    EXPECT_EQ(old->CountLines("event UNEXPECTED"), 0u);
    EXPECT_EQ(old->CountLines("event members"), 0u);
}

// --- with the Mumble desktop client ------------------------------------------------------------

// The Mumble client sees the module come, mute and go (nim_interop_tests);
// here the module sees the Mumble client do all it can, through its members events.
class RoomWithMumble : public ::testing::Test {
protected:
    static constexpr const char* kRoom = "mixed";
    static void SetUpTestSuite() {
        server_ = new MurmurServer();
        ASSERT_TRUE(server_->Start()) << server_->Log();
        ASSERT_TRUE(server_->GrantTemporaryChannels());
        ASSERT_TRUE(MurmurAdmin(server_->port(), MurmurServer::kSuperUserPassword).MakeChannel(kRoom));
        mumble_ = new MumbleClient("desktop");
        std::string sha1 = CertificateSha1(server_->port(), 10s);
        ASSERT_TRUE(mumble_->Start({server_->port(), MurmurServer::kServerPassword, sha1}, kRoom)) << mumble_->Log();
        ASSERT_TRUE(mumble_->WaitConnected()) << mumble_->Log();
        ASSERT_TRUE(mumble_->WaitInChannel(kRoom));
    }
    static void TearDownTestSuite() {
        delete mumble_;
        delete server_;
    }
    void SetUp() override {
        if (!mumble_ || !mumble_->CurrentUrl()) GTEST_SKIP() << "the Mumble client did not start";
        ASSERT_TRUE(pulse_.Start()) << pulse_.Log();
    }
    static MurmurServer* server_;
    static MumbleClient* mumble_;
    PulseServer pulse_;
};

MurmurServer* RoomWithMumble::server_ = nullptr;
MumbleClient* RoomWithMumble::mumble_ = nullptr;

TEST_F(RoomWithMumble, TheModuleSeesTheMumbleClientTalkMuteDeafenGoAndComeBack) {
    VoicePeer module("ann", pulse_.address(),
                     VoiceDeploy(server_->host(), server_->fingerprint()));
    ASSERT_TRUE(module.Start()) << module.Stderr();
    ASSERT_TRUE(module.Login("ann", MurmurServer::kServerPassword));
    ASSERT_EQ(ParseJson(module.Join(kRoom))["res"].asInt(), 200);
    ASSERT_TRUE(module.Do("play -"));
    auto desktop = [](const Json::Value& m) { return Member(m, "desktop"); };
    Json::Value room;  // as the module's last members event showed it
    auto shows = [&](const std::function<bool(const Json::Value&)>& match) {
        return !WaitMembers(module, match, 20s, &room).isNull();
    };
    ASSERT_TRUE(shows([&](const Json::Value& m) { return desktop(m).isObject(); }))
        << "the Mumble client is not among the members";
    EXPECT_FALSE(desktop(room)["muted"].asBool());
    EXPECT_FALSE(desktop(room)["deafened"].asBool());

    // It transmits all the time (the rig's setting): talking until it mutes.
    auto tone = mumble_->PlayTone(660);
    EXPECT_TRUE(shows([&](const Json::Value& m) { return desktop(m)["talking"].asBool(); })) << "it talks";
    ASSERT_TRUE(mumble_->SetSelfMuted(true));
    EXPECT_TRUE(shows([&](const Json::Value& m) { return desktop(m)["muted"].asBool() && !desktop(m)["talking"].asBool(); }))
        << "muted, it stops talking: " << room;
    ASSERT_TRUE(mumble_->SetSelfMuted(false));
    EXPECT_TRUE(shows([&](const Json::Value& m) { return !desktop(m)["muted"].asBool() && desktop(m)["talking"].asBool(); }))
        << room;
    ASSERT_TRUE(mumble_->SetSelfDeaf(true));
    EXPECT_TRUE(shows([&](const Json::Value& m) { return desktop(m)["deafened"].asBool(); })) << room;
    ASSERT_TRUE(mumble_->SetSelfDeaf(false));
    ASSERT_TRUE(mumble_->SetSelfMuted(false));
    EXPECT_TRUE(shows([&](const Json::Value& m) {
        return desktop(m).isObject() && !desktop(m)["deafened"].asBool() && !desktop(m)["muted"].asBool();
    })) << room;

    MurmurAdmin admin(server_->port(), MurmurServer::kSuperUserPassword);
    ASSERT_TRUE(admin.Move("desktop", ""));
    EXPECT_TRUE(shows([&](const Json::Value& m) { return desktop(m).isNull() && m["count"] == 1; })) << "it left: " << room;
    ASSERT_TRUE(admin.Move("desktop", kRoom));
    EXPECT_TRUE(shows([&](const Json::Value& m) { return desktop(m).isObject(); })) << "it came back: " << room;
}

// --- the hostile server ------------------------------------------------------------------------

class RoomOnHostileServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()); }
    std::unique_ptr<VoicePeer> Peer(const std::string& name) {
        auto p = std::make_unique<VoicePeer>(name, "unix:/nonexistent", server_.Deploy());
        EXPECT_TRUE(p->Start()) << p->Stderr();
        return p;
    }
    std::string Logs(VoicePeer& peer) { return DailyLogs(peer.dir()); }
    HostileVoiceServer server_;
};

TEST_F(RoomOnHostileServer, AFiveThousandMemberRoomAnswersTheJoinAndFloodsAreCoalesced) {
    server_.AddChannel(7, 0, "stadium");
    server_.AddUsers(7, 1000, 5000, std::string(240, 'm'));  // long names: 1.3 MB if all were listed
    auto peer = Peer("fan");
    ASSERT_TRUE(peer->Login("fan", "pw"));
    std::string text = peer->Join("stadium");
    Json::Value joined = ParseJson(text);
    ASSERT_EQ(joined["res"].asInt(), 200) << text.substr(0, 300);
    EXPECT_EQ(joined["member_count"].asUInt(), 5000u);
    EXPECT_LE(joined["members"].size(), 500u);
    EXPECT_LT(text.size(), 256u * 1024) << "the join reply must fit a page call";
    Json::Value members = WaitMembers(*peer, [](const Json::Value& m) { return m["count"].asUInt() == 5001; });
    ASSERT_FALSE(members.isNull());
    EXPECT_TRUE(members["truncated"].asBool());
    EXPECT_TRUE(members["members"][0]["self"].asBool());

    // One of the 5,000 speaks: the level events name that one only.
    server_.StreamTone(4321, 440, 50);
    std::string level;
    ASSERT_TRUE(peer->Next("event level ", &level, 20s));
    Json::Value levels = ParseJson(level);
    ASSERT_EQ(levels["members"].size(), 1u) << level.substr(0, 300);
    EXPECT_EQ(levels["members"][0]["session"].asUInt(), 4321u);
    EXPECT_LT(level.size(), 1024u);
    EXPECT_TRUE(server_.WaitStreamsDone(20s));

    // 100,000 changes in a burst: every member mutes, then unmutes, ten times over.
    std::string flood;
    for (int round = 0; round < 20; ++round) {
        for (std::uint32_t s = 1000; s < 6000; ++s) {
            vw::UserFields u;
            u.session = s;
            u.selfMute = round % 2 == 0;
            flood += vw::Frame(vw::kUserState, vw::UserStateMsg(u));
        }
    }
    vw::UserFields last;
    last.session = 1000;
    last.selfMute = true;
    flood += vw::Frame(vw::kUserState, vw::UserStateMsg(last));
    size_t before = peer->CountLines("event members");
    ASSERT_TRUE(server_.Send(flood));
    ASSERT_TRUE(server_.WaitSent(60s));
    Json::Value after = WaitMembers(*peer, [](const Json::Value& m) {
        for (const Json::Value& member : m["members"])
            if (member["session"].asUInt() == 1000) return member["muted"].asBool();
        return false;
    }, 60s);
    ASSERT_FALSE(after.isNull()) << "the last state did not arrive";
    EXPECT_LT(peer->CountLines("event members") - before, 1000u) << "members events are coalesced";
    ASSERT_TRUE(peer->Do("leave")) << "the module still answers";
}

TEST_F(RoomOnHostileServer, AHundredThousandChannelsArrivingDuringAJoinDoNotStallIt) {
    server_.AnswerJoins(false);
    auto peer = Peer("late");
    ASSERT_TRUE(peer->Login("late", "pw"));
    std::uint32_t self = server_.LastSession();
    ASSERT_TRUE(peer->Do("join lastroom"));
    ASSERT_TRUE(server_.WaitFor(vw::kChannelState, 10s)) << "the module asks for the room";
    // While the join waits, the server announces 100,000 channels, the room
    // last, and moves the user in. Each announcement makes the module look for
    // the room again.
    std::string flood;
    for (std::uint32_t id = 1; id <= 100000; ++id) flood += vw::Frame(vw::kChannelState, vw::ChannelStateMsg(id, 0, "c" + std::to_string(id)));
    flood += vw::Frame(vw::kChannelState, vw::ChannelStateMsg(100001, 0, "lastroom"));
    flood += vw::Frame(vw::kUserState, vw::UserStateMsg(vw::User(self, "late", 100001)));
    ASSERT_TRUE(server_.Send(flood));
    std::string reply;
    ASSERT_TRUE(peer->Next("event join ", &reply, 30s));
    EXPECT_EQ(ParseJson(reply)["res"].asInt(), 200) << reply;
    EXPECT_EQ(ParseJson(reply)["channelId"].asUInt(), 100001u);
}

TEST_F(RoomOnHostileServer, ASessionBrokenRightAfterItsStartIsRetriedLessAndLessOften) {
    server_.SendAfterSync(vw::FrameHeader(vw::kServerSync, 0xFFFFFFFFu) + "garbage");
    auto peer = Peer("flaky");
    EXPECT_TRUE(peer->Login("flaky", "pw"));
    ASSERT_TRUE(server_.WaitConnections(6, 60s));
    std::vector<Clock::time_point> at = server_.Connections();
    // The waits double from a quarter of a second; a session that broke at
    // once does not start them over.
    auto expected = 250ms;
    for (size_t i = 1; i < 6; ++i, expected *= 2)
        EXPECT_GE(at[i] - at[i - 1], expected * 9 / 10) << "reconnection " << i;
}

TEST_F(RoomOnHostileServer, ServerTextsAndPageValuesReachTheLogEscapedAndCut) {
    // Text shaped like the log's own entry header after a line break.
    const std::string forged = "[00:00:00][voice_peer][PID:1][TID:1][qm_nim\\VoiceSession:1]";
    std::string reason = "bad password\r\n" + forged + "\r\n<qm_nim> logged in as SuperUser\n";
    reason += std::string(200 * 1024, 'x');
    server_.RejectLogins(4, reason);
    auto refused = Peer("refused");
    EXPECT_FALSE(refused->Login("refused", "pw"));

    HostileVoiceServer good;
    good.AddChannel(3, 0, "stage");
    ASSERT_TRUE(good.Start());
    auto peer = std::make_unique<VoicePeer>("kim", "unix:/nonexistent", good.Deploy());
    ASSERT_TRUE(peer->Start());
    ASSERT_TRUE(peer->Login("kim", "pw"));
    // A device path with a line break, and a publishing address with a key in its query.
    ASSERT_TRUE(peer->Do("mic evil%0D%0A[00:00:00][voice_peer][PID:1][TID:1][qm_nim\\VoiceModule:1]%0D%0Aforged%20device 0"));
    EXPECT_FALSE(peer->Started(0));
    ASSERT_EQ(ParseJson(peer->Join("stage", "rtmp://127.0.0.1:1?key=TOPSECRET"))["res"].asInt(), 200);
    ASSERT_TRUE(WaitUntil([&] { return Logs(*peer).find("publishing") != std::string::npos; }, 20s)) << Logs(*peer);

    std::string log = Logs(*refused);
    ASSERT_NE(log.find("bad password"), std::string::npos) << log;
    EXPECT_EQ(log.find("\n" + forged), std::string::npos) << "a reason forged a log entry";
    EXPECT_LT(log.size(), 16u * 1024) << "the 200 KB reason was logged whole";
    log = Logs(*peer);
    EXPECT_EQ(log.find("\n[00:00:00][voice_peer][PID:1]"), std::string::npos) << "a device path forged a log entry";
    EXPECT_NE(log.find("forged device"), std::string::npos) << log;
    EXPECT_EQ(log.find("TOPSECRET"), std::string::npos) << log;
}

}  // namespace
}  // namespace qmtest
