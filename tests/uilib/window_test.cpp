// Top-level windows on the X server: class and title, geometry, showing,
// minimising without a window manager, coordinates and lookup.
#include <gtest/gtest.h>

#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <string>

#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"

using namespace std::chrono_literals;

namespace {

using namespace UiLib;
using qmtest::RecordingWindow;

Display* XDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

std::string XClass(HWND hwnd) {
    XClassHint hint{};
    std::string cls;
    if (XGetClassHint(XDisplay(), GDK_WINDOW_XID(qmtest::GdkWindowOf(hwnd)), &hint)) {
        cls = hint.res_class ? hint.res_class : "";
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return cls;
}

std::string XNetName(HWND hwnd) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    Atom netName = XInternAtom(XDisplay(), "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(XDisplay(), "UTF8_STRING", False);
    if (XGetWindowProperty(XDisplay(), GDK_WINDOW_XID(qmtest::GdkWindowOf(hwnd)), netName, 0, 1024, False, utf8,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return name;
}

RECT XRootRect(HWND hwnd) {
    GdkWindow* window = qmtest::GdkWindowOf(hwnd);
    int x = 0, y = 0;
    gdk_window_get_origin(window, &x, &y);
    RECT rect;
    rect.left = x;
    rect.top = y;
    rect.right = x + gdk_window_get_width(window);
    rect.bottom = y + gdk_window_get_height(window);
    return rect;
}

TEST(Toplevel, ClassAndTitleAreOnTheXWindowBeforeItIsShown) {
    RecordingWindow window(L"Quenor \u4e2d\u6587");
    ASSERT_NE(window.hwnd(), nullptr);
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    EXPECT_EQ(XClass(window.hwnd()), "UiLibTestRecorder");
    EXPECT_EQ(XNetName(window.hwnd()), "Quenor \xe4\xb8\xad\xe6\x96\x87");
    wchar_t buffer[64];
    EXPECT_EQ(GetWindowTextW(window.hwnd(), buffer, 64), 9);
    EXPECT_EQ(std::wstring(buffer), L"Quenor \u4e2d\u6587");
    EXPECT_EQ(GetWindowTextW(window.hwnd(), buffer, 4), 3);  // truncated, terminated
    EXPECT_EQ(std::wstring(buffer), L"Que");
    EXPECT_EQ(GetWindowClassName(window.hwnd()), L"UiLibTestRecorder");
    SetWindowTextW(window.hwnd(), L"renamed");
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return XNetName(window.hwnd()) == "renamed"; }, 10s))
        << XNetName(window.hwnd());
}

TEST(Toplevel, GeometryAnswersAtOnceAndTheServerFollows) {
    RecordingWindow window(L"geometry", WS_POPUP, 300, 200);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(window.hwnd(), &rect));
    EXPECT_EQ(rect.left, 40);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right, 340);
    EXPECT_EQ(rect.bottom, 250);
    ASSERT_TRUE(qmtest::ShowAndWait(window.hwnd()));
    window.Clear();

    ASSERT_TRUE(SetWindowPos(window.hwnd(), nullptr, 100, 120, 500, 400, SWP_NOZORDER));
    GetWindowRect(window.hwnd(), &rect);
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.right, 600);
    RECT client;
    GetClientRect(window.hwnd(), &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 400);
    auto sizes = window.Of(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(LOWORD(sizes[0].lParam), 500);
    EXPECT_EQ(HIWORD(sizes[0].lParam), 400);
    auto moves = window.Of(WM_MOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), 100);
    EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), 120);

    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] {
        RECT x = XRootRect(window.hwnd());
        return x.left == 100 && x.top == 120 && x.right == 600 && x.bottom == 520;
    }));
    qmtest::PumpMainLoopFor(400ms);  // the server's reports change nothing: no extra messages
    EXPECT_EQ(window.Of(WM_SIZE).size(), 1u);
    EXPECT_EQ(window.Of(WM_MOVE).size(), 1u);

    // Moving only keeps the size.
    SetWindowPos(window.hwnd(), nullptr, 10, 20, 0, 0, SWP_NOSIZE);
    GetWindowRect(window.hwnd(), &rect);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.right, 510);
    EXPECT_EQ(window.Of(WM_SIZE).size(), 1u);
    MoveWindow(window.hwnd(), 0, 0, 200, 100, TRUE);
    GetClientRect(window.hwnd(), &client);
    EXPECT_EQ(client.right, 200);
}

TEST(Toplevel, CoordinatesConvertBetweenScreenAndClient) {
    RecordingWindow window(L"coords", WS_POPUP, 300, 200);
    POINT p;
    p.x = 45;
    p.y = 70;
    ASSERT_TRUE(ScreenToClient(window.hwnd(), &p));
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 20);
    ASSERT_TRUE(ClientToScreen(window.hwnd(), &p));
    EXPECT_EQ(p.x, 45);
    EXPECT_EQ(p.y, 70);
}

class CenteredWindow : public CWindowWnd {
protected:
    const wchar_t* GetWindowClassName() const override { return L"UiLibTestCentered"; }
};

TEST(Toplevel, CenterWindowCentresOnTheWorkArea) {
    CenteredWindow window;
    ASSERT_NE(window.Create(nullptr, L"centred", WS_POPUP, 0, 0, 0, 400, 300), nullptr);
    window.CenterWindow();
    RECT rect;
    GetWindowRect(window, &rect);
    RECT work;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(rect.left, work.left + ((work.right - work.left) - 400) / 2);
    EXPECT_EQ(rect.top, work.top + ((work.bottom - work.top) - 300) / 2);
}

TEST(Toplevel, MinimiseWithoutAWindowManagerTakesTheWindowOffTheScreen) {
    RecordingWindow window(L"iconic");
    ASSERT_TRUE(qmtest::ShowAndWait(window.hwnd()));
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));
    EXPECT_FALSE(IsIconic(window.hwnd()));
    window.Clear();

    // The skin's "min" button posts SC_MINIMIZE; the default procedure minimises.
    PostMessageW(window.hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return IsIconic(window.hwnd()) != FALSE; }));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !gdk_window_is_viewable(qmtest::GdkWindowOf(window.hwnd())); }));
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));  // still "visible", as a minimised window is
    auto sizes = window.Of(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back().wParam, SIZE_MINIMIZED);

    ShowWindow(window.hwnd(), SW_RESTORE);
    EXPECT_FALSE(IsIconic(window.hwnd()));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return gdk_window_is_viewable(qmtest::GdkWindowOf(window.hwnd())); }));
    EXPECT_EQ(window.Of(WM_SIZE).back().wParam, SIZE_RESTORED);
}

TEST(Toplevel, HideAndShowReportTheirStateAndPreviousVisibility) {
    RecordingWindow window(L"shown");
    EXPECT_FALSE(ShowWindow(window.hwnd(), SW_SHOW));
    EXPECT_TRUE(ShowWindow(window.hwnd(), SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    auto shows = window.Of(WM_SHOWWINDOW);
    ASSERT_EQ(shows.size(), 2u);
    EXPECT_EQ(shows[0].wParam, static_cast<WPARAM>(TRUE));
    EXPECT_EQ(shows[1].wParam, static_cast<WPARAM>(FALSE));
    // Bringing a hidden window forward does not show it.
    EXPECT_TRUE(SetForegroundWindow(window.hwnd()));
    EXPECT_FALSE(IsWindowVisible(window.hwnd()));
    // Minimising a hidden window shows it minimised.
    ShowWindow(window.hwnd(), SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(window.hwnd()));
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));
}

TEST(Toplevel, FindWindowLooksUpClassAndTitle) {
    RecordingWindow window(L"Find Me");
    EXPECT_EQ(FindWindowW(L"UiLibTestRecorder", L"Find Me"), window.hwnd());
    EXPECT_EQ(FindWindowW(L"uilibtestrecorder", L"find me"), window.hwnd());
    EXPECT_EQ(FindWindowW(L"UiLibTestRecorder", L"Someone else"), nullptr);
    EXPECT_EQ(FindWindowW(L"NoSuchClass", nullptr), nullptr);
    HWND byClass = FindWindowW(L"UiLibTestRecorder", nullptr);
    EXPECT_NE(byClass, nullptr);
    HWND hwnd = window.hwnd();
    DestroyWindow(hwnd);
    EXPECT_EQ(FindWindowW(L"UiLibTestRecorder", L"Find Me"), nullptr);
}

TEST(Toplevel, WindowFromPointFindsTheTopmostVisibleWindow) {
    RecordingWindow lower(L"lower", WS_POPUP, 300, 200);   // 40,50 - 340,250
    RecordingWindow upper(L"upper", WS_POPUP, 100, 100);
    SetWindowPos(upper.hwnd(), nullptr, 200, 200, 100, 100, SWP_NOZORDER);
    ASSERT_TRUE(qmtest::ShowAndWait(lower.hwnd()));
    ASSERT_TRUE(qmtest::ShowAndWait(upper.hwnd()));
    POINT p;
    p.x = 60;
    p.y = 60;
    EXPECT_EQ(WindowFromPoint(p), lower.hwnd());
    p.x = 250;
    p.y = 220;
    EXPECT_EQ(WindowFromPoint(p), upper.hwnd());
    p.x = 900;
    p.y = 900;
    EXPECT_EQ(WindowFromPoint(p), nullptr);
    ShowWindow(upper.hwnd(), SW_HIDE);
    p.x = 250;
    p.y = 220;
    EXPECT_EQ(WindowFromPoint(p), lower.hwnd());
}

TEST(Toplevel, FocusMovesBetweenWindowsWithSetFocusAndKillFocus) {
    RecordingWindow first(L"first");
    RecordingWindow second(L"second");
    SetWindowPos(second.hwnd(), nullptr, 500, 500, 0, 0, SWP_NOSIZE);
    ASSERT_TRUE(qmtest::ShowAndWait(first.hwnd()));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return first.Saw(WM_SETFOCUS); }));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return GetFocus() == first.hwnd(); }));
    ASSERT_TRUE(qmtest::ShowAndWait(second.hwnd()));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return second.Saw(WM_SETFOCUS) && first.Saw(WM_KILLFOCUS); }));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return GetFocus() == second.hwnd(); }));
    SetFocus(first.hwnd());
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return first.Of(WM_SETFOCUS).size() == 2; }));
}

TEST(Toplevel, WindowManagerCloseReachesTheProcedure) {
    RecordingWindow window(L"closing");
    ASSERT_TRUE(qmtest::ShowAndWait(window.hwnd()));
    HWND hwnd = window.hwnd();
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(qmtest::GdkWindowOf(hwnd)));
    event->any.send_event = TRUE;
    gdk_event_put(event);
    gdk_event_free(event);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !IsWindow(hwnd); }));
    EXPECT_TRUE(window.Saw(WM_CLOSE));
    EXPECT_TRUE(window.Saw(WM_DESTROY));
}

}  // namespace
