// Windowless browsers in the engine: frames land in the bitmap, the host
// window's input reaches the page, the host window is watched and repainted.
// Pages are served on 127.0.0.1; host windows are UI library windows and
// input reaches them as events from the display, as a user's would.
#include <gtk/gtk.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "kxcef/testing.h"
#include "tests/cefhost/support/page_fixture.h"
#include "tests/support/gdk_events.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"
#include "uilib/win32.h"

namespace qmtest {
namespace {

const char kReport[] =
    "<script>function report(o){KXWebApp.PostCPPTask('report', typeof o == 'string' ? o : JSON.stringify(o));}"
    "</script>";

// A red block at the top left, a green one at the bottom right of the view.
const char kColourPage[] =
    "<!doctype html><html><body style='margin:0;background:#fff'>"
    "<div style='position:fixed;left:0;top:0;width:100px;height:60px;background:rgb(200,30,40)'></div>"
    "<div style='position:fixed;right:0;bottom:0;width:50px;height:40px;background:rgb(20,160,60)'></div>"
    "</body></html>";

// A button, a text field and a long page; every input is reported.
const char kInputPage[] =
    "<!doctype html><html><body style='margin:0;height:4000px;width:4000px'>"
    "<button id=b style='position:absolute;left:20px;top:20px;width:120px;height:40px'>Go</button>"
    "<input id=i style='position:absolute;left:20px;top:100px;width:200px;height:30px'>"
    "<a id=a href='#x' style='position:absolute;left:20px;top:160px;font-size:30px'>link</a>"
    "<script>"
    "b.addEventListener('click',function(){report('click');});"
    "document.addEventListener('mousedown',function(e){report('down '+e.detail+' '+e.button+' '+e.clientX+','+"
    "e.clientY+' '+e.isTrusted);});"
    "document.addEventListener('mouseup',function(e){report('up '+e.detail+' '+e.button);});"
    "i.addEventListener('input',function(){report('value '+i.value);});"
    "document.addEventListener('keydown',function(e){report('keydown '+e.key+' '+e.shiftKey);});"
    "document.addEventListener('keyup',function(e){report('keyup '+e.key);});"
    "var t=0;window.addEventListener('scroll',function(){clearTimeout(t);t=setTimeout(function(){"
    "report('scroll '+Math.round(scrollX)+','+Math.round(scrollY));},100);});"
    "</script></body></html>";

std::map<HWND, int> g_closes;

LRESULT HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) ++g_closes[hwnd];
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateHostWindow() {
    HWND hwnd = qmtest::CreateWindowOfClass(L"KXCEF2OsrHost", &HostProc, L"osr host", WS_POPUP, 30, 40, 400, 320);
    qmtest::ShowAndWait(hwnd);
    return hwnd;
}

// ARGB of a bitmap pixel, or 0 when there is no bitmap or the point is outside.
std::uint32_t PixelAt(CCEF3Handler* handler, int x, int y, int* width = nullptr, int* height = nullptr) {
    std::uint32_t value = 0;
    if (OSRBitmap* bitmap = handler->LockOSRBitmap()) {
        if (width) *width = bitmap->width;
        if (height) *height = bitmap->height;
        if (x >= 0 && y >= 0 && x < bitmap->width && y < bitmap->height)
            value = *reinterpret_cast<const std::uint32_t*>(bitmap->pixels + static_cast<size_t>(y) * bitmap->stride +
                                                              static_cast<size_t>(x) * 4);
    }
    handler->UnLockOSRBitmap();
    return value;
}

bool Near(std::uint32_t argb, int r, int g, int b) {
    auto close = [](int a, int e) { return a >= e - 6 && a <= e + 6; };
    return (argb >> 24) == 0xFF && close((argb >> 16) & 0xFF, r) && close((argb >> 8) & 0xFF, g) &&
           close(argb & 0xFF, b);
}

std::string Hex(std::uint32_t v) {
    char text[16];
    snprintf(text, sizeof text, "%08x", v);
    return text;
}

class Osr : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        Page("/colour.html", kColourPage);
        Page("/input.html", std::string(kReport) + kInputPage);
        host_ = CreateHostWindow();
        ASSERT_TRUE(host_);
        baseInvalidations_ = KXCEF2_OsrInvalidationsForTesting(host_);
    }
    void TearDown() override {
        PageTest::TearDown();
        if (UiLib::IsWindow(host_)) UiLib::DestroyWindow(host_);
    }

    // A windowless browser in `host_` at `area` (client coordinates), loaded.
    CefRefPtr<CCEF3Handler> OpenWindowless(const std::string& path, RECT area, int fps = 0) {
        CefRefPtr<CCEF3Handler> handler = CCEF3Manager::CreateBrowser(host_, area, Url(path), true, false, fps);
        if (!handler) return nullptr;
        recorder_.Attach(handler.get());
        handlers_.push_back(handler);
        EXPECT_TRUE(PumpMainLoopUntil([&] { return recorder_.SawLoadEnd(); })) << path;
        return handler;
    }

    // Waits until the bitmap has `width` x `height` and the pixel at (x, y) is near r, g, b.
    bool WaitPixel(CCEF3Handler* handler, int width, int height, int x, int y, int r, int g, int b) {
        return PumpMainLoopUntil([&] {
            int w = 0, h = 0;
            std::uint32_t p = PixelAt(handler, x, y, &w, &h);
            return w == width && h == height && Near(p, r, g, b);
        });
    }

    // Input as the display delivers it to the host window (client coordinates).
    GdkWindow* HostWindow() { return qmtest::GdkWindowOf(host_); }
    void Click(int x, int y, guint state = 0) {
        qmtest::PutButton(HostWindow(), x, y, 1, true, state);
        qmtest::PutButton(HostWindow(), x, y, 1, false, state | GDK_BUTTON1_MASK);
    }
    // Motion is held back until the window's next frame, as the display's own is.
    void Move(int x, int y) {
        qmtest::PutMotion(HostWindow(), x, y);
        gdk_frame_clock_request_phase(gdk_window_get_frame_clock(HostWindow()), GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
    }
    void Type(guint keyval, guint state = 0) {
        qmtest::PutKey(HostWindow(), keyval, true, state);
        qmtest::PutKey(HostWindow(), keyval, false, state);
    }
    bool WaitFor(CCEF3Handler* handler, const std::string& text) {
        return PumpMainLoopUntil([&] {
            for (const std::string& r : JsHandler().Reports(handler->GetBrowserId()))
                if (r == text) return true;
            return false;
        });
    }
    std::vector<std::string> Reports(CCEF3Handler* handler, const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& r : JsHandler().Reports(handler->GetBrowserId()))
            if (r.rfind(prefix, 0) == 0) out.push_back(r);
        return out;
    }

    HWND host_ = nullptr;
    long baseInvalidations_ = 0;
    BrowserRecorder recorder_;
};

TEST_F(Osr, FramesOfThePageLandInTheBitmapAtTheViewSize) {
    RECT area{10, 20, 330, 260};
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", area);
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->IsWindowLessCEF());
    EXPECT_TRUE(WaitPixel(h.get(), 320, 240, 50, 30, 200, 30, 40)) << Hex(PixelAt(h.get(), 50, 30));
    EXPECT_TRUE(Near(PixelAt(h.get(), 320 - 25, 240 - 20), 20, 160, 60)) << Hex(PixelAt(h.get(), 295, 220));
    EXPECT_TRUE(Near(PixelAt(h.get(), 200, 120), 255, 255, 255)) << Hex(PixelAt(h.get(), 200, 120));
    CefRect view;
    ASSERT_TRUE(h->GetViewRect(h->GetBrowser(), view));
    EXPECT_EQ(view.x, 10);
    EXPECT_EQ(view.y, 20);
    EXPECT_EQ(view.width, 320);
    EXPECT_EQ(view.height, 240);
}

TEST_F(Osr, AResizeRebuildsTheBitmapAtTheNewSizeWithTheWholeFrame) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", RECT{0, 0, 320, 240});
    ASSERT_TRUE(h);
    ASSERT_TRUE(WaitPixel(h.get(), 320, 240, 295, 220, 20, 160, 60));
    h->SetCEFSize(RECT{5, 5, 205, 155});  // 200 x 150
    EXPECT_TRUE(WaitPixel(h.get(), 200, 150, 175, 130, 20, 160, 60)) << Hex(PixelAt(h.get(), 175, 130));
    EXPECT_TRUE(Near(PixelAt(h.get(), 50, 30), 200, 30, 40));
    h->SetCEFSize(RECT{0, 0, 360, 300});
    EXPECT_TRUE(WaitPixel(h.get(), 360, 300, 335, 280, 20, 160, 60)) << Hex(PixelAt(h.get(), 335, 280));
}

TEST_F(Osr, AClickInTheHostWindowPressesThePagesButton) {
    RECT area{10, 20, 330, 260};
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", area);
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    Move(10 + 80, 20 + 40);
    Click(10 + 80, 20 + 40);
    EXPECT_TRUE(WaitFor(h.get(), "click"));
    EXPECT_TRUE(WaitFor(h.get(), "down 1 0 80,40 true"));
}

TEST_F(Osr, ClickCountsReachThePageAndAMoveAwayStartsAgain) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", RECT{0, 0, 320, 240});
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-double-click-time", 5000, nullptr);
    Move(200, 200);
    for (int i = 0; i < 3; ++i) Click(200, 200);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return Reports(h.get(), "down ").size() >= 3; }));
    Move(260, 200);  // out of the double-click box
    Click(260, 200);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return Reports(h.get(), "down ").size() >= 4; }));
    std::vector<std::string> downs = Reports(h.get(), "down ");
    EXPECT_EQ(downs[0], "down 1 0 200,200 true");
    EXPECT_EQ(downs[1], "down 2 0 200,200 true");
    EXPECT_EQ(downs[2], "down 3 0 200,200 true");
    EXPECT_EQ(downs[3], "down 1 0 260,200 true");
    g_object_set(settings, "gtk-double-click-time", 400, nullptr);
}

TEST_F(Osr, TypingReachesTheFocusedTextField) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", RECT{10, 20, 330, 260});
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    Click(10 + 100, 20 + 115);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !Reports(h.get(), "down ").empty(); }));
    Type(GDK_KEY_a);
    Type(GDK_KEY_B, GDK_SHIFT_MASK);
    Type(GDK_KEY_c);
    EXPECT_TRUE(WaitFor(h.get(), "value aBc")) << testing::PrintToString(Reports(h.get(), ""));
    // Each key goes up as the key it went down as.
    ASSERT_TRUE(PumpMainLoopUntil([&] { return Reports(h.get(), "keyup ").size() >= 3; }));
    EXPECT_EQ(Reports(h.get(), "keydown "),
              (std::vector<std::string>{"keydown a false", "keydown B false", "keydown c false"}));
    EXPECT_EQ(Reports(h.get(), "keyup "), (std::vector<std::string>{"keyup a", "keyup B", "keyup c"}));
}

TEST_F(Osr, TheWheelScrollsThePage) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", RECT{10, 20, 330, 260});
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    Move(200, 200);
    qmtest::PutScroll(HostWindow(), 200, 200, GDK_SCROLL_DOWN);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !Reports(h.get(), "scroll ").empty(); }))
        << testing::PrintToString(Reports(h.get(), ""));
    std::string first = Reports(h.get(), "scroll ").back();
    EXPECT_EQ(first.rfind("scroll 0,", 0), 0u) << first;
    EXPECT_NE(first, "scroll 0,0");
}

TEST_F(Osr, AShiftClickSendsNoClickAndShiftTurnsTheWheelSideways) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", RECT{0, 0, 320, 240});
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    Move(80, 40);
    Click(80, 40, GDK_SHIFT_MASK);
    Click(150, 150);  // a marker after it
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !Reports(h.get(), "down ").empty(); }));
    EXPECT_EQ(Reports(h.get(), "down ").front(), "down 1 0 150,150 true");
    EXPECT_TRUE(Reports(h.get(), "click").empty());

    qmtest::PutKey(HostWindow(), GDK_KEY_Shift_L, true);
    qmtest::PutScroll(HostWindow(), 200, 200, GDK_SCROLL_DOWN);
    qmtest::PutKey(HostWindow(), GDK_KEY_Shift_L, false);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !Reports(h.get(), "scroll ").empty(); }));
    std::string scroll = Reports(h.get(), "scroll ").back();
    EXPECT_NE(scroll.rfind("scroll 0,", 0), 0u) << scroll;
    EXPECT_NE(scroll.find(",0"), std::string::npos) << scroll;
}

TEST_F(Osr, TheCursorOverALinkBecomesTheHostWindowsCursor) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/input.html", RECT{10, 20, 330, 260});
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    GdkDisplay* display = gdk_display_get_default();
    GdkCursor* pointer = gdk_cursor_new_from_name(display, "pointer");
    Move(10 + 40, 20 + 180);  // over the link
    EXPECT_TRUE(PumpMainLoopUntil([&] { return gdk_window_get_cursor(HostWindow()) == pointer; }));
    Move(10 + 250, 20 + 220);  // over nothing
    EXPECT_TRUE(PumpMainLoopUntil([&] { return gdk_window_get_cursor(HostWindow()) != pointer; }));
    g_object_unref(pointer);
}

TEST_F(Osr, WithFrameRateZeroEveryFrameRepaintsTheHostWindow) {
    long before = KXCEF2_OsrInvalidationsForTesting(host_);
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", RECT{0, 0, 200, 100}, 0);
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    EXPECT_GT(KXCEF2_OsrInvalidationsForTesting(host_), before);
    int period = -1;
    long long ticks = -1;
    ASSERT_TRUE(KXCEF2_OsrTimerForTesting(h.get(), &period, &ticks));
    EXPECT_EQ(period, 0);  // no repaint timer
    EXPECT_EQ(ticks, 0);
}

TEST_F(Osr, WithFrameRateThirtyTheTimerRepaintsTheHostWindowEvery33Ms) {
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", RECT{0, 0, 200, 100}, 30);
    ASSERT_TRUE(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return PixelAt(h.get(), 1, 1) != 0; }));
    int period = 0;
    long long ticks = 0;
    ASSERT_TRUE(KXCEF2_OsrTimerForTesting(h.get(), &period, &ticks));
    EXPECT_EQ(period, 33);
    long long first = ticks;
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        KXCEF2_OsrTimerForTesting(h.get(), nullptr, &ticks);
        return ticks >= first + 5;
    }));
    // Only the timer repaints: one repaint per tick, frames add none.
    long long t1 = 0, t2 = 0;
    KXCEF2_OsrTimerForTesting(h.get(), nullptr, &t1);
    long repaints = KXCEF2_OsrInvalidationsForTesting(host_) - baseInvalidations_;
    KXCEF2_OsrTimerForTesting(h.get(), nullptr, &t2);
    EXPECT_GE(repaints, t1 - 1);
    EXPECT_LE(repaints, t2);
}

TEST_F(Osr, TwoBrowsersSubclassTheHostOnceAndTheLastOneRestoresIt) {
    WNDPROC original = UiLib::GetWindowProc(host_);
    CefRefPtr<CCEF3Handler> a = OpenWindowless("/colour.html", RECT{0, 0, 150, 100});
    ASSERT_TRUE(a);
    EXPECT_EQ(UiLib::GetWindowProc(host_), &CCEF3Handler::OSRCEFProc);
    recorder_ = BrowserRecorder();
    CefRefPtr<CCEF3Handler> b = OpenWindowless("/colour.html", RECT{150, 0, 300, 100});
    ASSERT_TRUE(b);
    EXPECT_EQ(UiLib::GetWindowProc(host_), &CCEF3Handler::OSRCEFProc);
    ASSERT_EQ(CCEF3Handler::s_HandlerMap[host_].size(), 2u);
    EXPECT_EQ(CCEF3Handler::s_HandlerMap[host_][0], a.get());
    EXPECT_EQ(CCEF3Handler::s_HandlerMap[host_][1], b.get());

    a->CloseBrowser();
    EXPECT_EQ(UiLib::GetWindowProc(host_), &CCEF3Handler::OSRCEFProc);
    EXPECT_EQ(CCEF3Handler::s_HandlerMap[host_].size(), 1u);
    b->CloseBrowser();
    EXPECT_EQ(UiLib::GetWindowProc(host_), original);
    EXPECT_EQ(CCEF3Handler::s_HandlerMap.count(host_), 0u);
    EXPECT_TRUE(WaitEngineIdle());
}

TEST_F(Osr, CloseOnTheHostOfALiveBrowserClosesTheBrowserNotTheWindow) {
    g_closes.clear();
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", RECT{0, 0, 200, 100});
    ASSERT_TRUE(h);
    EXPECT_EQ(UiLib::SendMessageW(host_, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(UiLib::IsWindow(host_));
    EXPECT_EQ(g_closes[host_], 0);  // the window's own procedure did not see it
    EXPECT_EQ(CCEF3Handler::s_HandlerMap.count(host_), 0u);
    // The browser closes, and only then does the window get its close.
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !h->GetBrowser(); }));
    EXPECT_TRUE(h->IsClosing());
    EXPECT_TRUE(PumpMainLoopUntil([&] { return !UiLib::IsWindow(host_); }));
    EXPECT_EQ(g_closes[host_], 1);
}

TEST_F(Osr, OnceTheBrowserIsClosingCloseReachesTheWindowsOwnProcedure) {
    g_closes.clear();
    CefRefPtr<CCEF3Handler> h = OpenWindowless("/colour.html", RECT{0, 0, 200, 100});
    ASSERT_TRUE(h);
    // The engine closes the browser while the handler still watches the window:
    // its close notice reaches the window itself.
    h->GetBrowser()->GetHost()->CloseBrowser(true);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !UiLib::IsWindow(host_); }));
    EXPECT_EQ(g_closes[host_], 1);
    EXPECT_TRUE(h->IsClosing());
    EXPECT_EQ(CCEF3Handler::s_HandlerMap.count(host_), 0u);
}

}  // namespace
}  // namespace qmtest
