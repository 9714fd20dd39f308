// The whole client with voice: the real qm_main shows the demo front-end,
// whose self-test logs in to a real voice server, joins a room, lists the
// sound devices and receives speaking levels through "JsHandleCallBack"
// while another participant (a peer process with its own sound server)
// speaks in that room; the sound library is mapped only once the page uses
// the sound devices; a crash during that session leaves a dump, and neither
// the dump nor the logs nor standard error hold the voice password.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include <signal.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/crash/minidump_reader.h"
#include "tests/support/http_server.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"
#include "tests/nim/rigs/hostile_server.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

// Whether `text` holds `password` as the client's code may keep it: UTF-8,
// or wide text (UTF-16 or UTF-32, little endian).
bool HoldsPassword(const std::string& text, const std::string& password) {
    std::string utf16, utf32;
    for (char c : password) {
        utf16 += std::string{c, '\0'};
        utf32 += std::string{c, '\0', '\0', '\0'};
    }
    for (const std::string& form : {password, utf16, utf32})
        if (text.find(form) != std::string::npos) return true;
    return false;
}

std::string MapsOf(int pid) { return qmtest::ReadFile("/proc/" + std::to_string(pid) + "/maps"); }

TEST(VoiceClient, TheDemoPageHearsAnotherParticipantAndACrashLeavesThePasswordNowhere) {
    MurmurServer server;
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_TRUE(server.GrantTemporaryChannels());
    PulseServer clientSound, peerSound;
    ASSERT_TRUE(clientSound.Start()) << clientSound.Log();
    ASSERT_TRUE(peerSound.Start()) << peerSound.Log();
    std::string voice = VoiceDeploy(server.host(), server.fingerprint());

    // The other participant speaks in room 7.
    VoicePeer peer("talker", peerSound.address(), voice);
    ASSERT_TRUE(peer.Start()) << peer.Stderr();
    ASSERT_TRUE(peer.Login("talker", MurmurServer::kServerPassword));
    ASSERT_NE(peer.Join("7").find("\"res\":200"), std::string::npos);
    TonePlayer tone(peerSound.address(), "micfeed", 440);
    ASSERT_TRUE(peer.Do("mic - 0"));
    ASSERT_TRUE(peer.Started(0));

    qmtest::ClientInstall install;
    qmtest::HttpServer web, stats;
    std::mutex lock;
    std::string result;
    web.ServeDirectory(qmtest::SourceDir() + "/web");
    web.Route("/selftest", [&](const qmtest::HttpRequest& r) {
        std::lock_guard<std::mutex> l(lock);
        result = r.body;
        return qmtest::HttpResponse();
    });
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(web.Start());
    ASSERT_TRUE(stats.Start());
    auto env = install.PrepareHome();
    env["PULSE_SERVER"] = clientSound.address();
    install.WriteDeploy(stats.port());
    qmtest::WriteFile(install.Path("deploy.ini"), qmtest::ReadFile(install.Path("deploy.ini")) + voice);
    qmtest::ChildProcess client;
    std::atomic<int> clientPid{0};
    std::string mapsBeforeLogin;
    // The page asks this server for the password, so that it is in no address
    // (the command line goes into a dump).
    const std::string password = MurmurServer::kServerPassword;
    web.Route("/voice-password", [&](const qmtest::HttpRequest&) {
        // Asked before the page's first voice command: once the voice module
        // is loaded, what the client maps here is what every start maps.
        std::string maps;
        qmtest::WaitUntil([&] {
            maps = clientPid ? MapsOf(clientPid) : std::string();
            return maps.find("/qm_nim.so") != std::string::npos;
        }, std::chrono::seconds(60));
        {
            std::lock_guard<std::mutex> l(lock);
            mapsBeforeLogin = maps;
        }
        qmtest::HttpResponse r;
        r.body = password;
        return r;
    });
    std::string page = "/?selftest=1&levels=3&user=webuser&passfrom=/voice-password";
    ASSERT_TRUE(client.Start(install.ClientArgv(web.Url(page)), env, install.Path("client.out")));
    clientPid = client.pid();
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        std::lock_guard<std::mutex> l(lock);
        return !result.empty();
    }, std::chrono::seconds(120))) << qmtest::ReadFile(install.Path("client.out"));

    Json::Value r;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(result, r)) << result;
    EXPECT_FALSE(r.isMember("error")) << result << "\n" << qmtest::DailyLogs(install.dir());
    EXPECT_TRUE(r["_nim_login"]["res"].asBool()) << result;
    EXPECT_EQ(r["_nim_join_room"]["res"].asInt(), 200) << result;
    EXPECT_EQ(r["_nim_join_room"]["account"].asString(), "webuser");
    EXPECT_NE(result.find("VirtualMic"), std::string::npos) << "the client's sound devices are listed";
    ASSERT_EQ(r["levels"].size(), 3u) << result;
    bool talkerSpeaks = false;
    for (const Json::Value& level : r["levels"]) {
        for (const Json::Value& m : level["members"])
            talkerSpeaks |= m["uid"].asString() == "talker" && m["speaking"].asBool() && m["volumn"].asInt() > 30;
    }
    EXPECT_TRUE(talkerSpeaks) << result;
    {
        std::lock_guard<std::mutex> l(lock);
        ASSERT_NE(mapsBeforeLogin.find("/qm_nim.so"), std::string::npos) << "the voice module is loaded at start";
        EXPECT_EQ(mapsBeforeLogin.find("libpulse"), std::string::npos) << mapsBeforeLogin;
    }
    EXPECT_NE(MapsOf(client.pid()).find("/libpulse.so"), std::string::npos)
        << "listing the devices opened the sound library";

    // Still logged in and in the room: the client crashes and leaves its dump.
    client.Signal(SIGABRT);
    EXPECT_EQ(client.Wait(std::chrono::seconds(60)), 128 + SIGABRT);
    std::vector<std::string> dumps = qmtest::ListDir(install.Path("Dump"));
    ASSERT_EQ(dumps.size(), 1u) << qmtest::ReadFile(install.Path("client.out"));
    std::string dumpBytes = qmtest::ReadFile(install.Path("Dump") + "/" + dumps[0]);
    qmtest::Minidump dump;
    ASSERT_TRUE(dump.Parse(dumpBytes)) << dump.error();
    EXPECT_GT(dump.threads.size(), 3u);
    EXPECT_FALSE(dump.memory.empty());
    // What the process held is searchable: its command line is in the dump.
    ASSERT_NE(dumpBytes.find("passfrom=/voice-password"), std::string::npos);
    EXPECT_FALSE(HoldsPassword(dumpBytes, password)) << "the dump " << dumps[0] << " holds the password";
    std::string out = qmtest::ReadFile(install.Path("client.out"));
    EXPECT_FALSE(HoldsPassword(out, password)) << out;
    std::string logs = qmtest::DailyLogs(install.dir());
    EXPECT_NE(logs.find("qm_nim"), std::string::npos) << "the voice module logs into the daily log";
    EXPECT_FALSE(HoldsPassword(logs, password)) << logs;
    // The peer's module logged in with the same password: its standard error has it nowhere either.
    EXPECT_FALSE(HoldsPassword(peer.Stderr(), password)) << peer.Stderr();
}

// --- big rooms --------------------------------------------------------------------------------

TEST(VoiceClient, AFiveThousandMemberRoomStillGivesThePageItsJoinReply) {
    HostileVoiceServer server;
    server.AddChannel(7, 0, "stadium");
    server.AddUsers(7, 1000, 5000, std::string(200, 'm'));  // listed whole, 1.2 MB of members
    ASSERT_TRUE(server.Start());
    qmtest::ClientInstall install;
    qmtest::HttpServer web, stats;
    web.ServeDirectory(qmtest::SourceDir() + "/web");
    web.Route("/selftest", [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(web.Start());
    ASSERT_TRUE(stats.Start());
    auto env = install.PrepareHome();
    env["PULSE_SERVER"] = "unix:/nonexistent";
    install.WriteDeploy(stats.port(), server.Deploy());
    qmtest::ChildProcess client;
    ASSERT_TRUE(client.Start(install.ClientArgv(web.Url("/?selftest=1&user=fan&pass=pw&room=stadium")), env,
                             install.Path("client.out")));
    ASSERT_TRUE(web.WaitForRequest("/selftest", 120s)) << qmtest::ReadFile(install.Path("client.out"));
    Json::Value r;
    ASSERT_TRUE(Json::Reader().parse(web.BodyOf("/selftest"), r)) << web.BodyOf("/selftest").substr(0, 500);
    EXPECT_FALSE(r.isMember("error")) << r["error"];
    Json::Value joined = r["_nim_join_room"];
    EXPECT_EQ(joined["res"].asInt(), 200);
    EXPECT_EQ(joined["member_count"].asUInt(), 5000u);
    EXPECT_GT(joined["members"].size(), 100u);
    EXPECT_LE(joined["members"].size(), 500u);
    EXPECT_EQ(joined["account"].asString(), "fan");
}

// --- the demo's voice room --------------------------------------------------------------------

// What the room page shows, as it reports it with ?observe=1.
class RoomPage {
public:
    explicit RoomPage(HttpServer& web) : web_(web) {
        web_.Route("/room-state", [](const HttpRequest&) { return HttpResponse(); });
    }
    Json::Value Now() const {
        Json::Value v;
        Json::Reader().parse(web_.LastBodyOf("/room-state").value_or("{}"), v);
        return v;
    }
    // Waits until what the page shows satisfies `match`.
    bool Shows(const std::function<bool(const Json::Value&)>& match, std::chrono::milliseconds timeout = 30s) const {
        return WaitUntil([&] { return match(Now()); }, timeout);
    }
    // A real click on the control `name` (its place as the page reported it).
    bool Click(const std::string& name) const {
        Json::Value r = Now()["rects"][name];
        auto main = FindMainWindow();
        if (!main || r.size() != 4) return false;
        int x = main->x + r[0].asInt() + r[2].asInt() / 2, y = main->y + kTitleBand + r[1].asInt() + r[3].asInt() / 2;
        return XDo({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }
    // The member shown as `name`, or null.
    static Json::Value Member(const Json::Value& state, const std::string& name) {
        for (const Json::Value& m : state["members"])
            if (m["name"].asString() == name) return m;
        return Json::Value();
    }

private:
    static constexpr int kTitleBand = 28;  // the window's band above the page
    HttpServer& web_;
};

TEST(VoiceRoomPage, AUserJoinsARoomSeesAnotherTalkAndMuteAndLeaves) {
    MurmurServer server;
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_TRUE(server.GrantTemporaryChannels());
    PulseServer clientSound, peerSound;
    ASSERT_TRUE(clientSound.Start()) << clientSound.Log();
    ASSERT_TRUE(peerSound.Start()) << peerSound.Log();
    std::string voice = VoiceDeploy(server.host(), server.fingerprint());

    qmtest::ClientInstall install;
    qmtest::HttpServer web, stats;
    web.ServeDirectory(qmtest::SourceDir() + "/web");
    RoomPage page(web);
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(web.Start());
    ASSERT_TRUE(stats.Start());
    auto env = install.PrepareHome();
    env["PULSE_SERVER"] = clientSound.address();
    install.WriteDeploy(stats.port(), voice);
    qmtest::ChildProcess client;
    std::string address = "/?observe=1&user=webuser&pass=" + std::string(MurmurServer::kServerPassword);
    ASSERT_TRUE(client.Start(install.ClientArgv(web.Url(address)), env, install.Path("client.out")));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << qmtest::ReadFile(install.Path("client.out"));
    ASSERT_TRUE(page.Shows([](const Json::Value& s) { return s["rects"]["room"].size() == 4; }, 60s));

    // The user types the room's name and joins; the room does not exist yet,
    // so the client makes it (with the certificate kept in its profile folder).
    // The private display has no window manager: the window gets the keyboard
    // as a manager would give it on a click.
    ASSERT_TRUE(XDo({"windowfocus", "--sync", FindMainWindow()->id}));
    // The page reports its controls while its scripts run; the client shows
    // it once its load has ended, so on a loaded machine a first click may
    // come before the page takes input: the click is made again until the
    // field has the focus (clicking a field twice changes nothing else).
    bool focused = false;
    for (int attempt = 0; attempt < 10 && !focused; ++attempt) {
        ASSERT_TRUE(page.Click("room"));
        focused = page.Shows([](const Json::Value& s) { return s["focus"].asString() == "room"; }, 5s);
    }
    auto shownAt = FindMainWindow();
    ASSERT_TRUE(focused) << page.Now() << "\nwindow at "
                         << (shownAt ? std::to_string(shownAt->x) + "," + std::to_string(shownAt->y) : "?") << "\n"
                         << qmtest::DailyLogs(install.dir());
    ASSERT_TRUE(XDo({"key", "ctrl+a"}));
    ASSERT_TRUE(XDo({"type", "--delay", "30", "lounge"}));
    ASSERT_TRUE(page.Shows([](const Json::Value& s) { return s["typedRoom"].asString() == "lounge"; }));
    ASSERT_TRUE(page.Click("join"));
    ASSERT_TRUE(page.Shows([](const Json::Value& s) {
        return s["room"].asString() == "Room lounge" && !RoomPage::Member(s, "webuser (you)").isNull();
    }, 60s)) << page.Now() << "\n" << qmtest::DailyLogs(install.dir());
    EXPECT_TRUE(qmtest::Exists(install.Path("tmp/qm_main/voice_identity.pem")))
        << "the profile folder did not reach the voice module";

    // Another participant comes in and talks.
    VoicePeer peer("talker", peerSound.address(), voice);
    ASSERT_TRUE(peer.Start()) << peer.Stderr();
    ASSERT_TRUE(peer.Login("talker", MurmurServer::kServerPassword));
    ASSERT_NE(peer.Join("lounge").find("\"res\":200"), std::string::npos);
    ASSERT_TRUE(peer.Do("mic - 0"));
    EXPECT_TRUE(page.Shows([](const Json::Value& s) {
        Json::Value m = RoomPage::Member(s, "talker");
        return m.isObject() && !m["talking"].asBool();
    })) << "the page does not show the participant who came in: " << page.Now();
    {
        TonePlayer tone(peerSound.address(), "micfeed", 440);
        EXPECT_TRUE(page.Shows([](const Json::Value& s) { return RoomPage::Member(s, "talker")["talking"].asBool(); }))
            << "no talking mark: " << page.Now();
    }
    EXPECT_TRUE(page.Shows([](const Json::Value& s) {
        Json::Value m = RoomPage::Member(s, "talker");
        return m.isObject() && !m["talking"].asBool();
    })) << "the talking mark stays after the talk";

    // The participant mutes: the page marks it. The user mutes: the participant sees it.
    ASSERT_TRUE(peer.Do("mute 1"));
    EXPECT_TRUE(page.Shows([](const Json::Value& s) { return RoomPage::Member(s, "talker")["muted"].asBool(); }))
        << page.Now();
    ASSERT_TRUE(page.Click("mute"));
    EXPECT_TRUE(page.Shows([](const Json::Value& s) {
        return s["muted"].asBool() && RoomPage::Member(s, "webuser (you)")["muted"].asBool();
    })) << page.Now();
    bool peerSeesMute = false;
    std::string text;
    while (!peerSeesMute && peer.Next("event members ", &text, 20s)) {
        Json::Value members;
        Json::Reader().parse(text, members);
        for (const Json::Value& m : members["members"])
            peerSeesMute |= m["uid"].asString() == "webuser" && m["muted"].asBool();
    }
    EXPECT_TRUE(peerSeesMute) << "the participant does not see the user mute";
    qmtest::RunProcess({"/bin/mkdir", "-p", qmtest::BinDir() + "/../artifacts"}, 5s);
    qmtest::Screenshot(qmtest::BinDir() + "/../artifacts/client-voice-room.png");

    // The participant leaves, then the user.
    ASSERT_TRUE(peer.Do("leave"));
    EXPECT_TRUE(page.Shows([](const Json::Value& s) { return RoomPage::Member(s, "talker").isNull(); })) << page.Now();
    ASSERT_TRUE(page.Click("leave"));
    EXPECT_TRUE(page.Shows([](const Json::Value& s) { return !s["inRoom"].asBool(); })) << page.Now();
}

}  // namespace
}  // namespace qmtest
