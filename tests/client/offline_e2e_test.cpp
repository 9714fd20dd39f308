// The client started while its front-end cannot be reached: the built-in
// offline page says so and why, the client tries again by itself (after
// growing pauses, at once when the network comes back, or when the user asks),
// and the front-end shows as soon as it answers. The real qm_main in the
// test program's private network namespace, where the test can take the
// front-end down and the network away and back.
#include <gtest/gtest.h>

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
    void Start(const std::string& url) {
        ASSERT_TRUE(client_.Start(install_.ClientArgv(url), install_.PrepareHome(), install_.Path("client.out")));
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

TEST_F(Offline, ALaterNavigationThatFailsShowsTheOfflinePageToo) {
    ASSERT_TRUE(web_.Start(port_));
    qmtest::HttpServer gone;
    ASSERT_TRUE(gone.Start());
    std::string away = gone.Url("/away.html");
    gone.Stop();
    web_.Route("/leaving.html", [away](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = "<!doctype html><body style='background:#fff'><script>var x=new XMLHttpRequest();"
                 "x.open('POST','/loaded');x.onloadend=function(){location.href='" + away + "';};x.send();"
                 "</script></body>";
        return r;
    });
    Start("http://127.0.0.1:" + std::to_string(port_) + "/leaving.html");
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Loaded(); }, 60s)) << Output();
    EXPECT_TRUE(WaitLog("cannot reach " + away + " (The service refused the connection", 30s)) << Logs();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return OfflinePageShown(); }, 30s));
    EXPECT_TRUE(client_.Running());
}

}  // namespace
