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

#include <signal.h>

#include <atomic>
#include <mutex>

#include "tests/crash/minidump_reader.h"
#include "tests/support/http_server.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"
#include "tests/voice/voice_peer.h"
#include "tests/voice/voice_servers.h"

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
    std::string voice = "[voice]\nhost=" + server.host() + "\nfingerprint=" + server.fingerprint() + "\n";

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

}  // namespace
}  // namespace qmtest
