// Keyboard and mouse input: virtual keys, key and mouse messages from GDK
// events, mouse hooks that also see native children, capture, leave tracking
// and the desktop settings.
#include <gtest/gtest.h>

#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"

using namespace std::chrono_literals;

namespace {

using namespace UiLib;
using qmtest::RecordingWindow;

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<RecordingWindow>(L"input", WS_POPUP, 300, 200);
        ASSERT_TRUE(qmtest::ShowAndWait(hwnd()));
        gdk_ = qmtest::GdkWindowOf(hwnd());
        window_->Clear();
    }
    HWND hwnd() const { return window_->hwnd(); }
    void Key(guint keyval, bool press, guint state = 0) { qmtest::PutKey(gdk_, keyval, press, state); }
    // Waits for `count` messages of the kind.
    bool Await(UINT message, size_t count = 1) {
        return qmtest::PumpMainLoopUntil([&] { return window_->Of(message).size() >= count; });
    }
    std::unique_ptr<RecordingWindow> window_;
    GdkWindow* gdk_ = nullptr;
};

TEST_F(InputTest, LettersGiveTheirVirtualKeyAndCharacter) {
    Key(GDK_KEY_a, true);
    Key(GDK_KEY_a, false);
    ASSERT_TRUE(Await(WM_KEYUP));
    auto downs = window_->Of(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].wParam, static_cast<WPARAM>('A'));
    EXPECT_NE(downs[0].lParam, 0);
    EXPECT_EQ(downs[0].lParam & (1 << 24), 0);
    auto chars = window_->Of(WM_CHAR);
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('a'));
    auto ups = window_->Of(WM_KEYUP);
    EXPECT_EQ(ups[0].wParam, static_cast<WPARAM>('A'));
    EXPECT_NE(static_cast<std::uint32_t>(ups[0].lParam) & 0x80000000u, 0u);  // transition bit
    EXPECT_NE(static_cast<std::uint32_t>(ups[0].lParam) & 0x40000000u, 0u);  // was down
}

TEST_F(InputTest, NavigationAndFunctionKeys) {
    Key(GDK_KEY_Left, true);
    Key(GDK_KEY_F5, true);
    Key(GDK_KEY_Escape, true);
    Key(GDK_KEY_KP_Left, true);  // keypad without Num Lock: not extended
    ASSERT_TRUE(Await(WM_KEYDOWN, 4));
    auto downs = window_->Of(WM_KEYDOWN);
    EXPECT_EQ(downs[0].wParam, static_cast<WPARAM>(VK_LEFT));
    EXPECT_NE(downs[0].lParam & (1 << 24), 0);
    EXPECT_EQ(downs[1].wParam, static_cast<WPARAM>(VK_F5));
    EXPECT_EQ(downs[2].wParam, static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_EQ(downs[3].wParam, static_cast<WPARAM>(VK_LEFT));
    EXPECT_EQ(downs[3].lParam & (1 << 24), 0);
    auto chars = window_->Of(WM_CHAR);
    ASSERT_EQ(chars.size(), 1u);  // only Esc has a character
    EXPECT_EQ(chars[0].wParam, 0x1Bu);
    Key(GDK_KEY_Left, false);
    Key(GDK_KEY_F5, false);
    Key(GDK_KEY_Escape, false);
    Key(GDK_KEY_KP_Left, false);
    Await(WM_KEYUP, 4);
}

TEST_F(InputTest, ModifiersShowInKeyStateAndSystemKeys) {
    Key(GDK_KEY_Control_L, true);
    Key(GDK_KEY_Shift_R, true, GDK_CONTROL_MASK);
    ASSERT_TRUE(Await(WM_KEYDOWN, 2));
    EXPECT_LT(GetAsyncKeyState(VK_CONTROL), 0);
    EXPECT_LT(GetAsyncKeyState(VK_LCONTROL), 0);
    EXPECT_EQ(GetAsyncKeyState(VK_RCONTROL), 0);
    EXPECT_LT(GetAsyncKeyState(VK_SHIFT), 0);
    EXPECT_LT(GetAsyncKeyState(VK_RSHIFT), 0);
    EXPECT_EQ(window_->Of(WM_KEYDOWN)[0].wParam, static_cast<WPARAM>(VK_CONTROL));
    EXPECT_EQ(window_->Of(WM_KEYDOWN)[1].wParam, static_cast<WPARAM>(VK_SHIFT));
    // Ctrl+A gives the control character.
    Key(GDK_KEY_A, true, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    ASSERT_TRUE(Await(WM_CHAR));
    EXPECT_EQ(window_->Of(WM_CHAR)[0].wParam, 1u);
    Key(GDK_KEY_A, false, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    Key(GDK_KEY_Shift_R, false, GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    Key(GDK_KEY_Control_L, false, GDK_CONTROL_MASK);
    ASSERT_TRUE(Await(WM_KEYUP, 3));
    EXPECT_EQ(GetAsyncKeyState(VK_CONTROL), 0);
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), 0);

    // Alt+X: system key and system character.
    Key(GDK_KEY_Alt_L, true);
    Key(GDK_KEY_x, true, GDK_MOD1_MASK);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->Saw(WM_SYSCHAR); }));
    auto sys = window_->Of(WM_SYSKEYDOWN);
    ASSERT_EQ(sys.size(), 2u);
    EXPECT_EQ(sys[1].wParam, static_cast<WPARAM>('X'));
    EXPECT_NE(sys[1].lParam & (1 << 29), 0);
    Key(GDK_KEY_x, false, GDK_MOD1_MASK);
    Key(GDK_KEY_Alt_L, false, GDK_MOD1_MASK);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->Of(WM_SYSKEYUP).size() == 2; }));
    EXPECT_EQ(GetAsyncKeyState(VK_MENU), 0);
}

TEST_F(InputTest, ShiftedKeysReportTheUnshiftedVirtualKey) {
    Key(GDK_KEY_exclam, true, GDK_SHIFT_MASK);
    ASSERT_TRUE(Await(WM_CHAR));
    EXPECT_EQ(window_->Of(WM_KEYDOWN)[0].wParam, static_cast<WPARAM>('1'));
    EXPECT_EQ(window_->Of(WM_CHAR)[0].wParam, static_cast<WPARAM>('!'));
    Key(GDK_KEY_exclam, false, GDK_SHIFT_MASK);
    Await(WM_KEYUP);
}

TEST_F(InputTest, MouseMessagesCarryClientPointsAndKeyFlags) {
    qmtest::PutMotion(gdk_, 12, 34);
    qmtest::PutButton(gdk_, 30, 40, 1, true, GDK_SHIFT_MASK);
    qmtest::PutButton(gdk_, 31, 41, 1, false, GDK_BUTTON1_MASK);
    qmtest::PutButton(gdk_, 50, 60, 3, true);
    qmtest::PutButton(gdk_, 50, 60, 3, false, GDK_BUTTON3_MASK);
    ASSERT_TRUE(Await(WM_RBUTTONUP));
    auto move = window_->Of(WM_MOUSEMOVE);
    ASSERT_FALSE(move.empty());
    EXPECT_EQ(GET_X_LPARAM(move[0].lParam), 12);
    EXPECT_EQ(GET_Y_LPARAM(move[0].lParam), 34);
    auto down = window_->Of(WM_LBUTTONDOWN);
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(GET_X_LPARAM(down[0].lParam), 30);
    EXPECT_EQ(GET_Y_LPARAM(down[0].lParam), 40);
    EXPECT_EQ(down[0].wParam, MK_LBUTTON | MK_SHIFT);
    auto up = window_->Of(WM_LBUTTONUP);
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(up[0].wParam, 0u);
    EXPECT_EQ(GET_X_LPARAM(up[0].lParam), 31);
    EXPECT_EQ(window_->Of(WM_RBUTTONDOWN)[0].wParam, MK_RBUTTON);
}

TEST_F(InputTest, WheelCarriesTheDeltaAndAScreenPoint) {
    qmtest::PutScroll(gdk_, 10, 20, GDK_SCROLL_UP);
    qmtest::PutScroll(gdk_, 10, 20, GDK_SCROLL_DOWN);
    ASSERT_TRUE(Await(WM_MOUSEWHEEL, 2));
    auto wheel = window_->Of(WM_MOUSEWHEEL);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[0].wParam), 120);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[1].wParam), -120);
    EXPECT_EQ(GET_X_LPARAM(wheel[0].lParam), 40 + 10);
    EXPECT_EQ(GET_Y_LPARAM(wheel[0].lParam), 50 + 20);
}

TEST_F(InputTest, LeaveTrackingReportsOnceAndAtOnceWhenOutside) {
    qmtest::PutCrossing(gdk_, true);
    qmtest::PutMotion(gdk_, 5, 5);
    ASSERT_TRUE(Await(WM_MOUSEMOVE));
    TRACKMOUSEEVENT track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = hwnd();
    ASSERT_TRUE(TrackMouseEvent(&track));
    qmtest::PumpMainLoopFor(30ms);
    EXPECT_FALSE(window_->Saw(WM_MOUSELEAVE));
    qmtest::PutCrossing(gdk_, false);
    ASSERT_TRUE(Await(WM_MOUSELEAVE));
    qmtest::PutCrossing(gdk_, true);
    qmtest::PutCrossing(gdk_, false);
    qmtest::PumpMainLoopFor(50ms);
    EXPECT_EQ(window_->Of(WM_MOUSELEAVE).size(), 1u);  // one notice per request
    // Requested while the pointer is outside: the notice comes at once.
    ASSERT_TRUE(TrackMouseEvent(&track));
    EXPECT_TRUE(Await(WM_MOUSELEAVE, 2));
}

// Mouse hooks and native children.
std::vector<std::pair<UINT, MOUSEHOOKSTRUCT>> g_hookSeen;
std::vector<std::string> g_hookOrder;
HHOOK g_olderHook = nullptr;
HHOOK g_newerHook = nullptr;
bool g_swallow = false;

LRESULT OlderHook(int code, WPARAM wParam, LPARAM lParam) {
    g_hookOrder.push_back("older");
    return CallNextHookEx(g_olderHook, code, wParam, lParam);
}

LRESULT NewerHook(int code, WPARAM wParam, LPARAM lParam) {
    g_hookOrder.push_back("newer");
    if (code == HC_ACTION && lParam) {
        g_hookSeen.emplace_back(static_cast<UINT>(wParam), *reinterpret_cast<MOUSEHOOKSTRUCT*>(lParam));
    }
    if (g_swallow) return 1;
    return CallNextHookEx(g_newerHook, code, wParam, lParam);
}

gboolean CountPress(GtkWidget*, GdkEventButton*, gpointer data) {
    ++*static_cast<int*>(data);
    return TRUE;
}

TEST_F(InputTest, HooksSeeClicksOnNativeChildrenBeforeAnyoneElse) {
    GtkWidget* view = gtk_event_box_new();
    gtk_widget_add_events(view, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(view), TRUE);
    gtk_fixed_put(GTK_FIXED(Native::GetContainer(hwnd())), view, 0, 0);
    HWND child = Native::RegisterChildWidget(view, hwnd());
    SetWindowPos(child, nullptr, 100, 50, 150, 100, SWP_NOZORDER);
    int presses = 0;
    g_signal_connect(view, "button-press-event", G_CALLBACK(CountPress), &presses);
    ShowWindow(child, SW_SHOW);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        GdkWindow* w = gtk_widget_get_window(view);
        return w && gdk_window_is_viewable(w) && gtk_widget_get_allocated_width(view) == 150;
    }));
    GdkWindow* viewWindow = gtk_widget_get_window(view);
    ASSERT_NE(viewWindow, gdk_);

    g_hookSeen.clear();
    g_hookOrder.clear();
    g_swallow = false;
    g_olderHook = SetWindowsHookExW(WH_MOUSE, OlderHook, nullptr, 0);
    g_newerHook = SetWindowsHookExW(WH_MOUSE, NewerHook, nullptr, 0);
    ASSERT_NE(g_olderHook, nullptr);
    EXPECT_EQ(SetWindowsHookExW(99, OlderHook, nullptr, 0), nullptr);

    qmtest::PutButton(viewWindow, 7, 9, 1, true);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return presses == 1; }));
    ASSERT_EQ(g_hookSeen.size(), 1u);
    EXPECT_EQ(g_hookSeen[0].first, WM_LBUTTONDOWN);
    EXPECT_EQ(g_hookSeen[0].second.hwnd, child);
    EXPECT_EQ(g_hookSeen[0].second.pt.x, 40 + 100 + 7);
    EXPECT_EQ(g_hookSeen[0].second.pt.y, 50 + 50 + 9);
    EXPECT_EQ(g_hookOrder, (std::vector<std::string>{"newer", "older"}));
    // The click was the child's, not the top-level window's.
    EXPECT_FALSE(window_->Saw(WM_LBUTTONDOWN));
    qmtest::PutButton(viewWindow, 7, 9, 1, false, GDK_BUTTON1_MASK);

    // The hook's own window walks up to the top-level window.
    EXPECT_EQ(GetParent(g_hookSeen[0].second.hwnd), hwnd());

    // A hook may swallow a message: neither the window nor the widget sees it.
    g_swallow = true;
    qmtest::PutButton(viewWindow, 8, 8, 1, true);
    qmtest::PutButton(gdk_, 5, 5, 1, true);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return g_hookSeen.size() >= 4; }));
    qmtest::PumpMainLoopFor(30ms);
    EXPECT_EQ(presses, 1);
    EXPECT_FALSE(window_->Saw(WM_LBUTTONDOWN));

    // Unhooked: messages flow straight to the window again.
    g_swallow = false;
    EXPECT_TRUE(UnhookWindowsHookEx(g_newerHook));
    EXPECT_FALSE(UnhookWindowsHookEx(g_newerHook));
    EXPECT_TRUE(UnhookWindowsHookEx(g_olderHook));
    size_t seen = g_hookSeen.size();
    qmtest::PutButton(gdk_, 5, 5, 1, true);
    ASSERT_TRUE(Await(WM_LBUTTONDOWN));
    EXPECT_EQ(g_hookSeen.size(), seen);
}

TEST_F(InputTest, CaptureRoutesTheMouseToTheCapturingWindow) {
    GtkWidget* view = gtk_event_box_new();
    gtk_fixed_put(GTK_FIXED(Native::GetContainer(hwnd())), view, 0, 0);
    HWND child = Native::RegisterChildWidget(view, hwnd());
    SetWindowPos(child, nullptr, 100, 50, 150, 100, SWP_NOZORDER);
    gtk_widget_show(view);
    qmtest::Recorded().clear();
    WNDPROC previous = SetWindowProc(child, GetWindowProc(hwnd()));  // the child records too
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(SetCapture(child), nullptr);
    EXPECT_EQ(GetCapture(), child);
    qmtest::PutMotion(gdk_, 120, 70);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const auto& m : qmtest::Recorded()) {
            if (m.hwnd == child && m.message == WM_MOUSEMOVE) return true;
        }
        return false;
    }));
    for (const auto& m : qmtest::Recorded()) {
        if (m.hwnd == child && m.message == WM_MOUSEMOVE) {
            EXPECT_EQ(GET_X_LPARAM(m.lParam), 20);  // the child's client coordinates
            EXPECT_EQ(GET_Y_LPARAM(m.lParam), 20);
        }
    }
    EXPECT_FALSE(window_->Saw(WM_MOUSEMOVE));
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_EQ(GetCapture(), nullptr);
    qmtest::PutMotion(gdk_, 10, 10);
    EXPECT_TRUE(Await(WM_MOUSEMOVE));
}

TEST(DesktopSettings, DoubleClickLimitsScreenAndWorkArea) {
    EXPECT_GT(GetDoubleClickTime(), 0u);
    EXPECT_GT(GetSystemMetrics(SM_CXDOUBLECLK), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXDOUBLECLK), GetSystemMetrics(SM_CYDOUBLECLK));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1024);
    RECT work;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_GT(work.bottom, 0);
    EXPECT_LE(work.right, 1280);
    EXPECT_FALSE(SystemParametersInfoW(0x1234, 0, &work, 0));
    POINT cursor;
    EXPECT_TRUE(GetCursorPos(&cursor));
}

}  // namespace
