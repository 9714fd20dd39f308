// The client native on Wayland: the real qm_main under a headless compositor
// that the test starts (no X server, no Xwayland), driven through the
// compositor as a user would: its page loads and answers the bridge, a second
// start brings the window back, the title band and the page's band move it,
// its right edge resizes it down to the skin's smallest width,
// the tray is a status notifier item, a new message asks for the user's
// attention, and on an output scaled by 2 the page is drawn at device pixels.
#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <signal.h>

#include <algorithm>
#include <atomic>

#include "tests/client/wayland_session.h"
#include "tests/support/http_server.h"
#include "tests/support/network.h"
#include "tests/support/process.h"
#include "tests/support/session.h"
#include "tests/support/status_notifier.h"

using namespace std::chrono_literals;

namespace {

constexpr int kTitleBand = 28;  // the skin's title band above the browser
const char kBrand[] = "Rawen";

// A dark band (the page's drag band) and a red block at (40, 60) of 300 x 200
// CSS pixels; asks the bridge for the client's identity and posts the answer.
const char kPage[] = R"(<!doctype html><html><head><title>wl</title><style>
body{margin:0;background:#fff}#band{height:60px;background:#345}
#block{position:absolute;left:40px;top:60px;width:300px;height:200px;background:rgb(210,40,50)}
</style></head><body><div id="band"></div><div id="block"></div><script>
function post(p, b) { var x = new XMLHttpRequest(); x.open('POST', p); x.send(b); }
window.JsHandleCallBack = function (text) { post('/reply', text); };
KXVantorAsyn.VantorCommunicateAsyn('_get_client_info', '');
// A new message for the user once the test says so.
(function poll() {
  var x = new XMLHttpRequest(); x.open('GET', '/news');
  x.onload = function () {
    if (x.responseText == '1') KXVantorAsyn.VantorCommunicateAsyn('_notify_new_info', '');
    else setTimeout(poll, 100);
  };
  x.send();
})();
requestAnimationFrame(function () { requestAnimationFrame(function () { post('/painted', String(devicePixelRatio)); }); });
window.addEventListener('resize', function () { post('/width', String(innerWidth)); });
</script></body></html>)";

class OnWayland : public ::testing::Test {
public:
    void SetUp() override {
        web_.RoutePage("/wl.html", kPage);
        web_.Route("/news", [this](const qmtest::HttpRequest&) {
            qmtest::HttpResponse r;
            r.body = news_ ? "1" : "0";
            return r;
        });
        web_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
    }
    void TearDown() override {
        client_.Signal(SIGTERM);
        client_.Wait(30s);
    }

    std::map<std::string, std::string> Env(const qmtest::WaylandSession& session) const {
        auto env = install_.PrepareHome();
        for (const auto& kv : session.ClientEnv()) env[kv.first] = kv.second;
        return env;
    }
    // Starts the client and waits until its page has painted.
    void Start(qmtest::WaylandSession& session, std::map<std::string, std::string> extra = {}) {
        ASSERT_TRUE(session.started()) << session.error();
        auto env = Env(session);
        for (const auto& kv : extra) env[kv.first] = kv.second;
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url("/wl.html")), env, install_.Path("client.out")));
        ASSERT_TRUE(web_.WaitForRequest("/painted", 60s)) << Output();
        ASSERT_TRUE(qmtest::WaitUntil([&] { return (view_ = session.FindView(kBrand)).has_value(); }, 20s))
            << Output();
    }
    std::string Output() const { return qmtest::ReadFile(install_.Path("client.out")); }

    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    std::optional<qmtest::WaylandView> view_;
    std::atomic<bool> news_{false};
};

TEST_F(OnWayland, StartsWithoutAnXServerAndThePageAnswersTheBridgeAndTheTrayIsAnItem) {
    qmtest::WaylandSession session(1366, 768);
    qmtest::SessionBus bus;
    qmtest::StatusNotifierHost host(bus.address());
    ASSERT_TRUE(host.StartWatcher());
    Start(session, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    ASSERT_TRUE(web_.WaitForRequest("/reply", 30s)) << Output();
    EXPECT_NE(web_.LastBodyOf("/reply")->find("\"cbfn\":\"_get_client_info\""), std::string::npos);
    // Never larger than the output (768 high, less nothing: no panel).
    EXPECT_LE(view_->height, 768);
    EXPECT_LE(view_->width, 1366);
    EXPECT_TRUE(view_->focused);
    // The icon is a status notifier item: the only tray there is on Wayland.
    std::optional<std::string> item = host.WaitForItem(30s);
    ASSERT_TRUE(item.has_value()) << Output();
    EXPECT_EQ(host.StringProperty(*item, "Title"), kBrand);
}

TEST_F(OnWayland, ASecondStartBringsTheWindowBackFromAnotherWorkspace) {
    qmtest::WaylandSession session(1366, 768);
    Start(session);
    // The user went elsewhere: the window is out of sight and has no focus.
    ASSERT_TRUE(session.Command("workspace 2"));
    ASSERT_TRUE(qmtest::WaitUntil([&] { auto v = session.FindView(kBrand); return v && !v->visible; }, 10s));
    // Started from the desktop, which hands the start its activation token.
    std::string token = session.ActivationToken();
    ASSERT_FALSE(token.empty());
    auto env = Env(session);
    env["XDG_ACTIVATION_TOKEN"] = token;
    qmtest::ChildProcess second;
    ASSERT_TRUE(second.Start({install_.Path("qm_main")}, env, install_.Path("second.out")));
    EXPECT_EQ(second.Wait(30s), 3) << qmtest::ReadFile(install_.Path("second.out"));
    EXPECT_TRUE(qmtest::WaitUntil([&] {
        auto v = session.FindView(kBrand);
        return v && v->visible && v->focused;
    }, 20s)) << Output();
}

// Drags by (dx, dy) from the window point (x, y) with the test's pointer.
void DragsTheWindow(OnWayland& test, int x, int y, int dx, int dy) {
    qmtest::WaylandSession session(1366, 768);
    test.Start(session);
    // The compositor moves the window as long as the button is held: by the
    // pointer's way from the press to the release.
    auto drag = [&](int fromX, int fromY, int dx, int dy) {
        SCOPED_TRACE("a drag from " + std::to_string(fromX) + "," + std::to_string(fromY));
        qmtest::WaylandView before = *session.FindView(kBrand);
        EXPECT_TRUE(session.PointerMove(fromX, fromY) && session.PointerDown());
        // The move begins once the client has asked the compositor for it:
        // the pointer wiggles a quarter of the way until the window follows.
        bool wiggle = false;
        int x = fromX, y = fromY;
        std::optional<qmtest::WaylandView> following;
        EXPECT_TRUE(qmtest::WaitUntil([&] {
            wiggle = !wiggle;
            x = fromX + dx / 4 + (wiggle ? 1 : 0);
            y = fromY + dy / 4;
            session.PointerMove(x, y);
            following = session.FindView(kBrand);
            return following && (following->x != before.x || following->y != before.y);
        }, 10s)) << "the window does not follow the pointer" << test.Output();
        if (!following) return;
        // From there on it keeps its place under the pointer, to the release.
        EXPECT_TRUE(session.PointerMove(fromX + dx, fromY + dy));
        EXPECT_TRUE(session.PointerUp());
        int wantX = following->x + (fromX + dx - x), wantY = following->y + (fromY + dy - y);
        std::optional<qmtest::WaylandView> after;
        EXPECT_TRUE(qmtest::WaitUntil([&] {
            after = session.FindView(kBrand);
            return after && after->x == wantX && after->y == wantY;
        }, 10s)) << "at " << (after ? after->x : -1) << "," << (after ? after->y : -1) << ", not " << wantX << ","
                 << wantY << " under the pointer";
    };
    drag(test.view_->x + x, test.view_->y + y, dx, dy);
}

// The skin's title band, left of its buttons.
TEST_F(OnWayland, TheTitleBandMovesTheWindowWithThePointer) { DragsTheWindow(*this, 300, kTitleBand / 2, -60, 40); }

// The page's dark band below it.
TEST_F(OnWayland, ThePagesBandMovesTheWindowWithThePointer) { DragsTheWindow(*this, 400, kTitleBand + 30, 50, -30); }

// The window's right edge, dragged by the test's pointer: the compositor
// resizes the window as long as the button is held, and not below the
// skin's smallest width.
TEST_F(OnWayland, TheRightEdgeResizesTheWindowButNotBelowTheSkinsMinimum) {
    constexpr int kMinWidth = 800;
    qmtest::WaylandSession session(1366, 768);
    Start(session);
    // The page's width as it last reported it (the window's, drawn).
    auto PageWidth = [&] {
        std::optional<std::string> width = web_.LastBodyOf("/width");
        return width ? std::atoi(width->c_str()) : -1;
    };
    // Drags the right edge by dx; gives the width the window should have.
    auto resize = [&](int dx) {
        qmtest::WaylandView before = *session.FindView(kBrand);
        int fromX = before.x + before.width - 2, y = before.y + before.height / 2;
        EXPECT_TRUE(session.PointerMove(fromX, y) && session.PointerDown());
        // The resize begins once the client has asked the compositor for it.
        bool wiggle = false;
        int x = fromX;
        std::optional<qmtest::WaylandView> following;
        EXPECT_TRUE(qmtest::WaitUntil([&] {
            wiggle = !wiggle;
            x = fromX + dx / 4 + (wiggle ? 1 : 0);
            session.PointerMove(x, y);
            following = session.FindView(kBrand);
            return following && following->width != before.width;
        }, 10s)) << "the window does not follow the pointer" << Output();
        if (!following) return -1;
        // From there on the width keeps the pointer's way. The pointer stays
        // at its end until the page has that width: sway 1.7 takes a size
        // the client draws late (for an earlier step) as the window's own,
        // even after the button is up.
        int target = std::max(following->width + (fromX + dx - x), kMinWidth);
        std::optional<qmtest::WaylandView> now;
        EXPECT_TRUE(qmtest::WaitUntil([&] {
            session.PointerMove(fromX + dx, y);
            now = session.FindView(kBrand);
            return now && now->width == target && PageWidth() == target;
        }, 20s)) << PageWidth() << ", not " << target << Output();
        EXPECT_TRUE(session.PointerUp());
        return target;
    };
    auto settlesAt = [&](int width) {
        std::optional<qmtest::WaylandView> after;
        EXPECT_TRUE(qmtest::WaitUntil([&] {
            after = session.FindView(kBrand);
            return after && after->width == width && PageWidth() == width;
        }, 10s)) << PageWidth() << ", not " << width;
        return after.value_or(qmtest::WaylandView());
    };
    qmtest::WaylandView before = *session.FindView(kBrand);
    int narrower = resize(-150);
    EXPECT_LT(narrower, before.width - 100);
    qmtest::WaylandView after = settlesAt(narrower);
    EXPECT_EQ(after.height, before.height);
    EXPECT_EQ(after.x, before.x);
    // Far to the left: the window stops at the skin's smallest width.
    EXPECT_EQ(resize(-700), kMinWidth);
    settlesAt(kMinWidth);
}

// A new message while the user is elsewhere: the compositor marks the window
// (its taskbar entry or workspace) as asking for attention, and the tray item
// asks too; the window does not take the focus.
TEST_F(OnWayland, ANewMessageAsksTheCompositorForTheUsersAttention) {
    qmtest::WaylandSession session(1366, 768, 1, qmtest::WaylandSession::Activation::Urgent);
    qmtest::SessionBus bus;
    qmtest::StatusNotifierHost host(bus.address());
    ASSERT_TRUE(host.StartWatcher());
    Start(session, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    std::optional<std::string> item = host.WaitForItem(30s);
    ASSERT_TRUE(item.has_value()) << Output();
    ASSERT_TRUE(session.Command("workspace 2"));
    ASSERT_TRUE(qmtest::WaitUntil([&] { auto v = session.FindView(kBrand); return v && !v->visible; }, 10s));
    EXPECT_FALSE(session.FindView(kBrand)->urgent);
    news_ = true;
    EXPECT_TRUE(qmtest::WaitUntil([&] { auto v = session.FindView(kBrand); return v && v->urgent; }, 20s)) << Output();
    EXPECT_TRUE(host.WaitForString(*item, "Status", "NeedsAttention", 10s));
    EXPECT_FALSE(session.FindView(kBrand)->visible);
}

// The red block's box on a screenshot, in device pixels.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool found() const { return right >= 0; }
};

Box RedBlock(const std::string& png) {
    Box box;
    GdkPixbuf* shot = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    if (!shot) return box;
    int channels = gdk_pixbuf_get_n_channels(shot), stride = gdk_pixbuf_get_rowstride(shot);
    const guchar* pixels = gdk_pixbuf_read_pixels(shot);
    auto near = [](int a, int e) { return a >= e - 8 && a <= e + 8; };
    for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y) {
        for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
            const guchar* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
            if (!near(p[0], 210) || !near(p[1], 40) || !near(p[2], 50)) continue;
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    }
    g_object_unref(shot);
    return box;
}

// The page on an output scaled by 2: 300 x 200 CSS pixels are 600 x 400
// pixels, where the window shows them; `sharp`: drawn at device pixels (a
// stretched 1x picture blends the edges into the page's white).
void ThePageIsShownAtTwiceItsSize(OnWayland& test, qmtest::WaylandSession& session, bool sharp) {
    test.Start(session);
    EXPECT_EQ(*test.web_.LastBodyOf("/painted"), "2");
    std::string png = test.install_.Path("screen.png");
    Box block;
    ASSERT_TRUE(qmtest::WaitUntil([&] { return session.Screenshot(png) && (block = RedBlock(png)).found(); }, 20s))
        << test.Output();
    // Where the window's content begins, in device pixels: the block is 40, 60
    // CSS pixels into the page, which begins below the title band.
    qmtest::WaylandView view = *session.FindView(kBrand);
    int tolerance = sharp ? 0 : 2;
    EXPECT_NEAR(block.right - block.left, 300 * 2, tolerance);
    EXPECT_NEAR(block.bottom - block.top, 200 * 2, tolerance);
    EXPECT_NEAR(block.left, (view.x + 40) * 2, tolerance);
    EXPECT_NEAR(block.top, (view.y + kTitleBand + 60) * 2, tolerance);
}

TEST_F(OnWayland, OnAnOutputScaledByTwoThePageIsDrawnAtDevicePixels) {
    qmtest::WaylandSession session(2732, 1536, 2);
    ThePageIsShownAtTwiceItsSize(*this, session, true);
}

// Rendered off screen the view cannot follow the output's scale there (it
// renders at one pixel a point): the page still shows, stretched.
TEST_F(OnWayland, OnAnOutputScaledByTwoThePageRenderedOffScreenIsShownAtTwiceItsSize) {
    ASSERT_TRUE(qmtest::WriteFile(install_.Path("Skin/Main/ClientMainWnd.xml"), qmtest::ReadFile(QM_OSR_TEST_SKIN)));
    qmtest::WaylandSession session(2732, 1536, 2);
    ThePageIsShownAtTwiceItsSize(*this, session, false);
}

}  // namespace

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    if (!qmtest::EnterPrivateNetwork()) qmtest::TakeTurnWithOtherClientTests();
    ::testing::InitGoogleTest(&argc, argv);
    // No X display is given to anything here.
    unsetenv("DISPLAY");
    return RUN_ALL_TESTS();
}
