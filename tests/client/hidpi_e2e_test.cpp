// The client on a screen scaled by 2 (GDK_SCALE=2), with its browser in a
// window and rendered off screen: the page shows at twice its size in device
// pixels, with sharp edges (not a stretched picture), and a click on the
// screen lands on the button under it.
#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdlib>

#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/network.h"
#include "tests/support/process.h"
#include "tests/support/session.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;

namespace {

constexpr int kScale = 2;
constexpr int kSkinWidth = 1280;  // the main skin's width in logical pixels

// A red block at (40, 60) of 300 x 200 CSS pixels and a button at (500, 100)
// of 200 x 80 that turns the block blue.
const char kPage[] = R"(<!doctype html><html><head><title>hidpi</title><style>
body{margin:0;background:#fff}
#block{position:absolute;left:40px;top:60px;width:300px;height:200px;background:rgb(210,40,50)}
#b{position:absolute;left:500px;top:100px;width:200px;height:80px}
</style></head><body><div id="block"></div><button id="b">Press</button>
<script>
function post(p, body) { var x = new XMLHttpRequest(); x.open('POST', p); x.send(body); }
b.addEventListener('click', function () { block.style.background = 'rgb(40,60,220)'; post('/clicked', '1'); });
requestAnimationFrame(function () { requestAnimationFrame(function () { post('/painted', String(devicePixelRatio)); }); });
</script></body></html>)";

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool found = false;
};

bool Near(const guchar* p, int r, int g, int b) {
    auto close = [](int a, int e) { return a >= e - 8 && a <= e + 8; };
    return close(p[0], r) && close(p[1], g) && close(p[2], b);
}

class ScaledClient : public ::testing::Test {
protected:
    void SetUp() override {
        web_.RoutePage("/hidpi.html", kPage);
        for (const char* path : {"/painted", "/clicked"})
            web_.Route(path, [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
    }
    void TearDown() override {
        client_.Signal(SIGTERM);
        client_.Wait(30s);
    }

    void Start() {
        auto env = install_.PrepareHome();
        env["GDK_SCALE"] = std::to_string(kScale);
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url("/hidpi.html")), env, install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << qmtest::ReadFile(install_.Path("client.out"));
        ASSERT_TRUE(qmtest::WaitUntil([&] { return web_.LastBodyOf("/painted").has_value(); }, 60s));
        EXPECT_EQ(*web_.LastBodyOf("/painted"), "2");
        main_ = *qmtest::FindMainWindow();
    }
    // The box of pixels of one colour inside the main window, on a screenshot.
    Box Find(int r, int g, int b) {
        Box box;
        std::string png = install_.Path("screen.png");
        if (!qmtest::Screenshot(png)) return box;
        GdkPixbuf* shot = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
        if (!shot) return box;
        int channels = gdk_pixbuf_get_n_channels(shot), stride = gdk_pixbuf_get_rowstride(shot);
        const guchar* pixels = gdk_pixbuf_read_pixels(shot);
        int right = std::min(main_.x + main_.width, gdk_pixbuf_get_width(shot));
        int bottom = std::min(main_.y + main_.height, gdk_pixbuf_get_height(shot));
        for (int y = std::max(0, main_.y); y < bottom; ++y) {
            for (int x = std::max(0, main_.x); x < right; ++x) {
                if (!Near(pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels, r, g, b))
                    continue;
                if (!box.found) box = {x, y, x + 1, y + 1, true};
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
        }
        g_object_unref(shot);
        return box;
    }

    void ShowsThePageAtTwiceItsSizeAndTakesClicks() {
        Start();
        // The window: the skin's size in device pixels.
        EXPECT_EQ(main_.width, kSkinWidth * kScale);
        // The block: 300 x 200 CSS pixels are 600 x 400 device pixels, and its
        // edges are sharp (a stretched 1x picture blends the edge pixels away).
        // The page may reach the screen a moment after it painted.
        Box block;
        // Where the window is is asked again each time: on a loaded machine
        // it may be placed after it first showed.
        ASSERT_TRUE(qmtest::WaitUntil(
            [&] {
                if (auto window = qmtest::FindMainWindow()) main_ = *window;
                return (block = Find(210, 40, 50)).found;
            },
            60s))
            << "window at " << main_.x << "," << main_.y << " " << main_.width << "x" << main_.height;
        EXPECT_EQ(block.right - block.left, 300 * kScale);
        EXPECT_EQ(block.bottom - block.top, 200 * kScale);
        // The page's origin on the screen, and the button's centre under it.
        int originX = block.left - 40 * kScale, originY = block.top - 60 * kScale;
        int x = originX + (500 + 100) * kScale, y = originY + (100 + 40) * kScale;
        ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(x), std::to_string(y), "click", "1"}));
        EXPECT_TRUE(qmtest::WaitUntil([&] { return web_.LastBodyOf("/clicked").has_value(); }, 15s))
            << "the click at " << x << "," << y << " missed the button";
        Box blue;
        EXPECT_TRUE(qmtest::WaitUntil([&] { return (blue = Find(40, 60, 220)).found; }, 10s));
        EXPECT_EQ(blue.right - blue.left, 300 * kScale);
    }

    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    qmtest::XWindowInfo main_;
};

TEST_F(ScaledClient, WindowedPageIsDrawnAtDevicePixelsAndTakesClicks) { ShowsThePageAtTwiceItsSizeAndTakesClicks(); }

TEST_F(ScaledClient, OffScreenPageIsDrawnAtDevicePixelsAndTakesClicks) {
    ASSERT_TRUE(qmtest::WriteFile(install_.Path("Skin/Main/ClientMainWnd.xml"), qmtest::ReadFile(QM_OSR_TEST_SKIN)));
    ShowsThePageAtTwiceItsSizeAndTakesClicks();
}

}  // namespace

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    if (!qmtest::EnterPrivateNetwork()) qmtest::TakeTurnWithOtherClientTests();
    ::testing::InitGoogleTest(&argc, argv);
    // Room for the 1280 x 800 window at twice the pixels.
    qmtest::UsePrivateDisplay("2880x1800x24");
    return RUN_ALL_TESTS();
}
