// The client started while its front-end cannot be reached: the built-in
// offline page says so and why, the client tries again by itself (after
// growing pauses, at once when the network comes back, or when the user asks),
// and the front-end shows as soon as it answers. The real qm_main in the
// test program's private network namespace, where the test can take the
// front-end down and the network away and back.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <map>
#include <memory>
#include <regex>
#include <thread>

#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/logs.h"
#include "tests/support/network.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;
using qmtest::XWindowInfo;

namespace {

constexpr int kTitleBand = 28;
constexpr int kPageWidth = 1280, kPageHeight = 772;

const char kFrontEnd[] = R"(<!doctype html><html><head><title>front</title></head>
<body style="margin:0;background:#fff"><p>front-end</p><script>
var x = new XMLHttpRequest(); x.open('POST', '/loaded'); x.send(location.search);
</script></body></html>)";

class Offline : public ::testing::Test {
protected:
    void SetUp() override {
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
        // A port nobody listens on until the test says so.
        ASSERT_TRUE(web_.Start());
        port_ = web_.port();
        web_.Stop();
        web_.RoutePage("/front.html", kFrontEnd);
        web_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    }
    void TearDown() override {
        client_.Kill();
        if (qmtest::InPrivateNetwork()) qmtest::RemoveDefaultRoute();
    }

    // The front-end's address; the client adds its own parameters to it.
    std::string FrontEnd() const { return "http://127.0.0.1:" + std::to_string(port_) + "/front.html"; }
    // The started address as the daily log shows it: the client adds its own
    // parameters, and the log hides queries.
    static std::string Logged(const std::string& address) { return address + "?***"; }
    void Start(const std::string& url, const std::map<std::string, std::string>& extraEnv = {}) {
        std::map<std::string, std::string> env = install_.PrepareHome();
        for (const auto& e : extraEnv) env[e.first] = e.second;
        ASSERT_TRUE(client_.Start(install_.ClientArgv(url), env, install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << Output();
        main_ = *qmtest::FindMainWindow();
    }
    std::string Output() const { return qmtest::ReadFile(install_.Path("client.out")); }
    std::string Logs() const { return qmtest::DailyLogs(install_.dir()); }
    size_t LogCount(const std::string& text) const {
        std::string log = Logs();
        size_t n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1)) ++n;
        return n;
    }
    bool WaitLog(const std::string& text, std::chrono::milliseconds timeout) const {
        return qmtest::WaitUntil([&] { return Logs().find(text) != std::string::npos; }, timeout);
    }
    // Waits until the client's pause before its next try is at least `seconds`.
    bool WaitPauseOfAtLeast(int seconds) const {
        return qmtest::WaitUntil([&] {
            std::string log = Logs();
            std::regex next("next try in ([0-9]+) s");
            for (auto it = std::sregex_iterator(log.begin(), log.end(), next); it != std::sregex_iterator(); ++it)
                if (std::stoi((*it)[1]) >= seconds) return true;
            return false;
        }, 60s);
    }
    bool Loaded() const { return web_.WasRequested("/loaded"); }
    bool PixelIs(int pageX, int pageY, int r, int g, int b) const {
        int rgb[3] = {-1, -1, -1};
        if (!qmtest::Pixel(main_.x + pageX, main_.y + kTitleBand + pageY, rgb)) return false;
        auto near = [](int a, int e) { return a >= e - 6 && a <= e + 6; };
        return near(rgb[0], r) && near(rgb[1], g) && near(rgb[2], b);
    }
    // The offline page: its dark background, and its blue "Try again" button
    // in the middle, 60 % down the page.
    int ButtonX() const { return kPageWidth / 2 - 80; }
    int ButtonY() const { return kPageHeight * 60 / 100 + 22; }
    bool OfflinePageShown() const {
        return PixelIs(20, 20, 0x1c, 0x27, 0x33) && PixelIs(ButtonX(), ButtonY(), 0x2e, 0x86, 0xde);
    }

    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    int port_ = 0;
    XWindowInfo main_;
};

TEST_F(Offline, AFrontEndThatIsDownShowsWhyAndLoadsOnceItAnswers) {
    Start(FrontEnd());
    // The window is not left blank: the offline page says what failed and why.
    ASSERT_TRUE(qmtest::WaitUntil([&] { return OfflinePageShown(); }, 30s)) << Output();
    EXPECT_TRUE(WaitLog("cannot reach " + Logged(FrontEnd()) + " (The service refused the connection", 10s))
        << Logs();
    qmtest::RunProcess({"/bin/mkdir", "-p", qmtest::BinDir() + "/../artifacts"}, 5s);
    qmtest::Screenshot(qmtest::BinDir() + "/../artifacts/client-offline.png");

    // It keeps trying by itself, with growing pauses.
    ASSERT_TRUE(WaitPauseOfAtLeast(2)) << Logs();
    EXPECT_TRUE(client_.Running());
    ASSERT_TRUE(web_.Start(port_));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 60s)) << Logs();
    EXPECT_TRUE(WaitLog("reached " + Logged(FrontEnd()) + " again", 20s)) << Logs();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return PixelIs(20, 60, 255, 255, 255); }, 20s)) << "the front-end shows";
}

TEST_F(Offline, TheTryAgainButtonLoadsTheFrontEndWithoutWaitingForTheNextTry) {
    Start(FrontEnd());
    ASSERT_TRUE(WaitPauseOfAtLeast(8)) << Logs();
    ASSERT_TRUE(qmtest::WaitUntil([&] { return OfflinePageShown(); }, 30s));
    size_t timed = LogCount("again: the pause is over");
    ASSERT_TRUE(web_.Start(port_));
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(main_.x + ButtonX()),
                             std::to_string(main_.y + kTitleBand + ButtonY()), "click", "1"}));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 30s)) << Logs();
    // The click brought it, not a try of the client's own.
    EXPECT_EQ(LogCount("again: the pause is over"), timed) << Logs();
}

TEST_F(Offline, TheNetworkComingBackBringsTheFrontEndAtOnce) {
    if (!qmtest::InPrivateNetwork()) GTEST_SKIP() << "needs a network namespace of its own (root)";
    Start(FrontEnd());
    ASSERT_TRUE(WaitPauseOfAtLeast(8)) << Logs();
    size_t timed = LogCount("again: the pause is over");
    ASSERT_TRUE(web_.Start(port_));
    // The network comes back: a default route appears.
    ASSERT_TRUE(qmtest::AddDefaultRoute());
    EXPECT_TRUE(WaitLog("again: the network is back", 20s)) << Logs();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 30s)) << Logs();
    EXPECT_EQ(LogCount("again: the pause is over"), timed) << Logs();
}

TEST_F(Offline, AnUnknownHostIsReportedAsANameThatCannotBeFound) {
    if (!qmtest::InPrivateNetwork()) GTEST_SKIP() << "asks a name server: only in a network namespace of its own";
    std::string url = "http://qm-front-end.invalid:" + std::to_string(port_) + "/front.html";
    Start(url);
    EXPECT_TRUE(WaitLog("cannot reach " + Logged(url) + " (The service's address could not be found", 60s))
        << Logs();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return OfflinePageShown(); }, 30s));
}

TEST_F(Offline, ALaterFailedLoadOfAnotherPageOffersTheWayBackAndIsNotTriedAgain) {
    ASSERT_TRUE(web_.Start(port_));
    qmtest::HttpServer gone;
    ASSERT_TRUE(gone.Start());
    std::string away = gone.Url("/away.html");
    gone.Stop();
    // The front-end leads to a page that cannot be reached, the first time only.
    auto shown = std::make_shared<std::atomic<int>>(0);
    web_.Route("/leaving.html", [away, shown](const qmtest::HttpRequest&) {
        bool leave = (*shown)++ == 0;
        qmtest::HttpResponse r;
        r.body = "<!doctype html><body style='background:#fff'><script>var x=new XMLHttpRequest();"
                 "x.open('POST','/loaded');x.onloadend=function(){" +
                 std::string(leave ? "location.href='" + away + "';" : "") + "};x.send();</script></body>";
        return r;
    });
    std::string front = "http://127.0.0.1:" + std::to_string(port_) + "/leaving.html";
    Start(front);
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 60s)) << Output();
    EXPECT_TRUE(WaitLog("cannot show " + away + " (", 30s)) << Logs();
    EXPECT_TRUE(WaitLog("not the front-end's: its page leads back to " + Logged(front), 5s)) << Logs();
    ASSERT_TRUE(qmtest::WaitUntil([&] { return OfflinePageShown(); }, 30s));
    // Its button leads back to the front-end; the failed page is never tried by itself.
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(main_.x + ButtonX()),
                             std::to_string(main_.y + kTitleBand + ButtonY()), "click", "1"}));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return web_.RequestCount("/loaded") == 2; }, 30s)) << Logs();
    EXPECT_EQ(LogCount("trying " + away), 0u) << Logs();
    EXPECT_EQ(LogCount("trying "), 0u) << Logs();
    EXPECT_TRUE(client_.Running());
}

// Started outside a login session (the tests' environment has no
// XDG_RUNTIME_DIR), the client gives the engine a private runtime folder and
// removes it at the end. A web process that dies before its page has loaded
// shows the offline page, which says so, and the client tries again by itself.
TEST_F(Offline, AWebProcessThatDiesBeforeThePageLoadsShowsWhyAndIsTriedAgain) {
#ifndef QM_TEST_HOOKS
    GTEST_SKIP() << "the web process's crash switch exists only in builds configured with -DQM_TEST_HOOKS=ON";
#endif
    ASSERT_TRUE(install_.PrepareHome().count("XDG_RUNTIME_DIR") == 0) << "the harness keeps the session's folder out";
    ASSERT_TRUE(web_.Start(port_));
    auto served = std::make_shared<std::atomic<int>>(0);
    // The first showing makes its web process fail while the page still loads.
    web_.Route("/crashing.html", [served](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = (*served)++ == 0 ? "<!doctype html><body><script>KXVantorSyn.VantorCommunicateSync('qm_test_crash','');"
                                    "</script><img src='/never-answers.png'></body>"
                                  : std::string(kFrontEnd);
        return r;
    });
    web_.Route("/never-answers.png", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.behaviour = qmtest::HttpResponse::Behaviour::NeverAnswer;
        return r;
    });
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/crashing.html";
    Start(url, {{"QM_TEST_RENDER_CRASH", "1"}});
    EXPECT_TRUE(WaitLog("cannot reach " + Logged(url) + " (The browser's page process ended before the page could be "
                        "shown. -1000: the page's web process ended before the page loaded)", 60s))
        << Logs() << Output();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 60s)) << Logs();
    EXPECT_TRUE(WaitLog("reached " + Logged(url) + " again after 1 failed load(s)", 20s)) << Logs();

    const std::string made = "no XDG_RUNTIME_DIR: the browser engine uses the private runtime folder ";
    std::string log = Logs();
    size_t at = log.find(made);
    ASSERT_NE(at, std::string::npos) << log;
    std::string folder = log.substr(at + made.size(), log.find_first_of("\r\n", at) - at - made.size());
    auto isDirectory = [](const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    EXPECT_TRUE(isDirectory(folder)) << folder;
    client_.Signal(SIGTERM);
    EXPECT_EQ(client_.Wait(30s), 0);
    EXPECT_FALSE(isDirectory(folder)) << "removed at the end: " << folder;
}

}  // namespace
