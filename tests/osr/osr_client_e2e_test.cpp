// The real client with its browser rendered off screen (the browser control's
// "windowless" skin attribute), on its private display: what the page draws
// shows in the main window, and the user's clicks, typing and wheel reach the
// page through the window.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "tests/support/x_probe.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;
using qmtest::XWindowInfo;

namespace {

constexpr int kTitleBand = 28;  // the skin's title band above the browser

// A red block, a button that turns it blue, a text field and a long page;
// the page tells the server what happened to it.
const char kPage[] = R"(<!doctype html><html><head><title>osr</title><style>
body{margin:0;background:#fff;height:5000px}
#block{position:absolute;left:0;top:70px;width:300px;height:200px;background:rgb(210,40,50)}
#b{position:absolute;left:400px;top:100px;width:200px;height:80px}
#i{position:absolute;left:400px;top:220px;width:300px;height:40px;font-size:20px}
</style></head><body><div id="block"></div><button id="b">Press</button><input id="i">
<script>
function post(p, body) { var x = new XMLHttpRequest(); x.open('POST', p); x.send(body); }
b.addEventListener('click', function () { block.style.background = 'rgb(40,60,220)'; post('/clicked', '1'); });
i.addEventListener('input', function () { post('/typed', i.value); });
var t = 0;
addEventListener('scroll', function () {
  clearTimeout(t);
  t = setTimeout(function () { post('/scrolled', String(Math.round(scrollY))); }, 150);
});
</script></body></html>)";

class WindowlessClient : public ::testing::Test {
protected:
    void SetUp() override {
        web_.RoutePage("/osr.html", kPage);
        for (const char* path : {"/clicked", "/typed", "/scrolled"})
            web_.Route(path, [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
        // The same window, with the browser control rendering off screen.
        ASSERT_TRUE(qmtest::WriteFile(install_.Path("Skin/Main/ClientMainWnd.xml"),
                                      qmtest::ReadFile(QM_OSR_TEST_SKIN)));
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url("/osr.html")), install_.PrepareHome(),
                                  install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << qmtest::ReadFile(install_.Path("client.out"));
        main_ = *MainWindow();
    }

    std::optional<XWindowInfo> MainWindow() const { return qmtest::FindMainWindow(); }
    // Screen point of a page point.
    int X(int pageX) const { return main_.x + pageX; }
    int Y(int pageY) const { return main_.y + kTitleBand + pageY; }
    std::string S(int v) const { return std::to_string(v); }

    bool PixelNear(int pageX, int pageY, int r, int g, int b) const {
        int rgb[3] = {-1, -1, -1};
        if (!qmtest::Pixel(X(pageX), Y(pageY), rgb)) return false;
        auto close = [](int a, int e) { return a >= e - 8 && a <= e + 8; };
        return close(rgb[0], r) && close(rgb[1], g) && close(rgb[2], b);
    }

    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    XWindowInfo main_;
};

TEST_F(WindowlessClient, ThePageShowsInTheWindowAndAClickOnItsButtonChangesIt) {
    ASSERT_TRUE(qmtest::WaitUntil([&] { return PixelNear(150, 170, 210, 40, 50); }, 60s))
        << qmtest::ReadFile(install_.Path("client.out"));
    EXPECT_TRUE(PixelNear(900, 500, 255, 255, 255));  // the page's background beside it
    std::string log = qmtest::ReadFile(install_.Path("client.out"));
    EXPECT_NE(log.find("renders off screen at 1280x772"), std::string::npos) << log;
    qmtest::RunProcess({"/bin/mkdir", "-p", qmtest::BinDir() + "/../artifacts"}, 5s);
    qmtest::Screenshot(qmtest::BinDir() + "/../artifacts/client-windowless.png");
    ASSERT_TRUE(qmtest::XDo({"mousemove", S(X(500)), S(Y(140)), "click", "1"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return web_.LastBodyOf("/clicked").has_value(); }, 20s));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return PixelNear(150, 170, 40, 60, 220); }, 20s));
}

TEST_F(WindowlessClient, TypingReachesTheTextFieldAndTheWheelScrollsThePage) {
    ASSERT_TRUE(qmtest::WaitUntil([&] { return PixelNear(150, 170, 210, 40, 50); }, 60s));
    ASSERT_TRUE(qmtest::XDo({"mousemove", S(X(550)), S(Y(240)), "click", "1"}));
    std::this_thread::sleep_for(300ms);  // the field takes the focus
    ASSERT_TRUE(qmtest::XDo({"type", "--delay", "30", "Hello 42"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return web_.LastBodyOf("/typed") == std::string("Hello 42"); }, 20s))
        << web_.LastBodyOf("/typed").value_or("<nothing typed>");

    ASSERT_TRUE(qmtest::XDo({"mousemove", S(X(640)), S(Y(450)), "click", "--repeat", "3", "5"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] {
        auto scrolled = web_.LastBodyOf("/scrolled");
        return scrolled && std::atoi(scrolled->c_str()) > 0;
    }, 20s));
    // The red block has moved up with the page.
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !PixelNear(150, 260, 210, 40, 50); }, 20s));
}

TEST_F(WindowlessClient, DraggingThePageBandMovesTheWindow) {
    ASSERT_TRUE(qmtest::WaitUntil([&] { return PixelNear(150, 170, 210, 40, 50); }, 60s));
    int x = X(700), y = Y(30);  // inside the page's top band
    std::optional<XWindowInfo> after = qmtest::DragMainWindow(x, y, 50, 40);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->x - main_.x, 50);
    EXPECT_EQ(after->y - main_.y, 40);
}

TEST_F(WindowlessClient, ATerminationSignalClosesTheBrowserAndThenEndsTheClient) {
    ASSERT_TRUE(qmtest::WaitUntil([&] { return PixelNear(150, 170, 210, 40, 50); }, 60s));
    client_.Signal(SIGTERM);
    EXPECT_EQ(client_.Wait(30s), 0) << qmtest::ReadFile(install_.Path("client.out"));
}

}  // namespace
