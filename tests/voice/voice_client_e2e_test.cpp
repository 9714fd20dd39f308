// The whole client with voice: the real qm_main shows the demo front-end,
// whose self-test logs in to a real voice server, joins a room, lists the
// sound devices and receives speaking levels through "JsHandleCallBack"
// while another participant (a peer process with its own sound server)
// speaks in that room.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>

#include <signal.h>

#include <mutex>
#include <sstream>

#include "tests/support/http_server.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"
#include "tests/voice/voice_peer.h"
#include "tests/voice/voice_servers.h"

namespace voicetest {
namespace {

class TonePlayerProcess {
public:
    TonePlayerProcess(const std::string& pulse, const std::string& sink, int hz) {
        process_.Start({VOICE_TONE_EXE, sink, std::to_string(hz), "-1"}, {{"PULSE_SERVER", pulse}});
    }
    ~TonePlayerProcess() { process_.Kill(); }

private:
    qmtest::ChildProcess process_;
};

TEST(VoiceClient, TheDemoPageHearsAnotherParticipantThroughJsHandleCallBack) {
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
    TonePlayerProcess tone(peerSound.address(), "micfeed", 440);
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
    std::string page = "/?selftest=1&levels=3&user=webuser&pass=" + std::string(MurmurServer::kServerPassword);
    ASSERT_TRUE(client.Start(install.ClientArgv(web.Url(page)), env, install.Path("client.out")));
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        std::lock_guard<std::mutex> l(lock);
        return !result.empty();
    }, std::chrono::seconds(120))) << qmtest::ReadFile(install.Path("client.out"));
    client.Signal(SIGTERM);
    client.Wait(std::chrono::seconds(30));

    Json::Value r;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(result, r)) << result;
    EXPECT_FALSE(r.isMember("error")) << result;
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
    // The password went to the server only: the client's log has it nowhere
    // but in the page's own address (this test put it there).
    std::istringstream logs(qmtest::DailyLogs(install.dir()));
    for (std::string line; std::getline(logs, line);) {
        if (line.find("pass=") != std::string::npos) continue;
        EXPECT_EQ(line.find(MurmurServer::kServerPassword), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace voicetest
