// Input translation of a windowless browser: a real window receives the
// display's events as messages and its procedure hands them to the off-screen
// handler, whose browser records what it is sent.
#include <gtk/gtk.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "osr/osr_handler.h"
#include "tests/osr/support/fake_browser.h"
#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"
#include "uilib/win32.h"

using namespace std::chrono_literals;

using qmtest::InputEvent;

namespace {

kxcef::CCEF3OSRHandler* g_osr = nullptr;
LRESULT g_lastResult = -1;
int g_moves = 0;

LRESULT InputProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOUSEMOVE) ++g_moves;
    if (g_osr) {
        g_lastResult = g_osr->DealInputMessage(hwnd, message, wParam, lParam);
        return g_lastResult;
    }
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}

const RECT kArea{10, 20, 290, 180};  // the browser's place in the window

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        hwnd_ = qmtest::CreateWindowOfClass(L"OsrInputTest", &InputProc, L"input", WS_POPUP, 60, 70, 300, 200);
        ASSERT_TRUE(qmtest::ShowAndWait(hwnd_));
        browser_ = new qmtest::RecordingBrowser();
        osr_ = new kxcef::CCEF3OSRHandler();
        osr_->Init(hwnd_, kArea, 0);
        osr_->SetBrowser(browser_.get());
        g_osr = osr_.get();
        SetDoubleClickTime(5000);
        // Clicks of earlier tests are long past for the shared click state.
        Move(299, 199);
        Drain();
        host().events.clear();
    }
    void TearDown() override {
        g_osr = nullptr;
        SetDoubleClickTime(400);
        UiLib::ReleaseCapture();
        if (UiLib::IsWindow(hwnd_)) UiLib::DestroyWindow(hwnd_);
        qmtest::PumpMainLoopFor(20ms);
    }

    static void SetDoubleClickTime(int ms) {
        g_object_set(gtk_settings_get_default(), "gtk-double-click-time", ms, nullptr);
    }
    GdkWindow* Window() { return qmtest::GdkWindowOf(hwnd_); }
    // Until the input put so far has reached the browser.
    void Drain() { ASSERT_TRUE(qmtest::PumpMainLoopUntilIdle()); }
    void Press(int x, int y, guint button = 1, guint state = 0) {
        qmtest::PutButton(Window(), x, y, button, true, state);
        Drain();
    }
    void Release(int x, int y, guint button = 1, guint state = 0) {
        qmtest::PutButton(Window(), x, y, button, false, state);
        Drain();
    }
    void Click(int x, int y, guint button = 1, guint state = 0) {
        Press(x, y, button, state);
        Release(x, y, button, state);
    }
    // Motion is held back until the window's next frame, as the display's
    // own motion is: ask for that frame and wait for the move.
    // GDK may also fold a motion into one it still holds: then it is put again.
    void Move(int x, int y) {
        int before = g_moves;
        for (int attempt = 0; attempt < 6 && g_moves == before; ++attempt) {
            qmtest::PutMotion(Window(), x, y);
            gdk_frame_clock_request_phase(gdk_window_get_frame_clock(Window()), GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
            qmtest::PumpMainLoopUntil([&] { return g_moves > before; }, 500ms);
        }
    }
    qmtest::RecordingHost& host() { return browser_->host(); }
    std::vector<int> DownCounts() {
        std::vector<int> out;
        for (const InputEvent& e : host().Of(InputEvent::Click))
            if (!e.flag) out.push_back(e.clickCount);
        return out;
    }

    HWND hwnd_ = nullptr;
    CefRefPtr<qmtest::RecordingBrowser> browser_;
    CefRefPtr<kxcef::CCEF3OSRHandler> osr_;
};

TEST_F(Input, ClicksInPlaceCountOneTwoThree) {
    for (int i = 0; i < 3; ++i) Click(100, 100);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1, 2, 3}));
    std::vector<InputEvent> clicks = host().Of(InputEvent::Click);
    ASSERT_EQ(clicks.size(), 6u);
    // Page coordinates: the window's client point less the browser's place.
    EXPECT_EQ(clicks[0].x, 100 - kArea.left);
    EXPECT_EQ(clicks[0].y, 100 - kArea.top);
    EXPECT_EQ(clicks[0].button, MBT_LEFT);
    EXPECT_TRUE(clicks[0].modifiers & EVENTFLAG_LEFT_MOUSE_BUTTON);
    // Each release carries the count of its press.
    EXPECT_TRUE(clicks[5].flag);
    EXPECT_EQ(clicks[5].clickCount, 3);
    EXPECT_FALSE(clicks[5].modifiers & EVENTFLAG_LEFT_MOUSE_BUTTON);
}

TEST_F(Input, AClickOutsideTheDoubleClickBoxStartsAgain) {
    int half = UiLib::GetSystemMetrics(UiLib::SM_CXDOUBLECLK) / 2;
    ASSERT_GT(half, 0);
    Click(100, 100);
    Click(100 + half, 100);      // on the edge of the box: still a double click
    Click(100 + half + half + 1, 100);  // beyond the box around the last first click
    Click(100, 100 + 2 * half + 1);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1, 2, 1, 1}));
}

TEST_F(Input, AMoveOutOfTheBoxBetweenClicksResetsTheCount) {
    Click(100, 100);
    Move(101, 101);  // inside the box: the count goes on
    Click(100, 100);
    Move(140, 100);  // out of it
    Move(100, 100);
    Click(100, 100);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1, 2, 1}));
}

TEST_F(Input, AnotherButtonOrALateClickStartsAgain) {
    Click(100, 100);
    Click(100, 100, 3);
    Click(100, 100, 3);
    Click(100, 100, 2);
    std::vector<InputEvent> downs;
    for (const InputEvent& e : host().Of(InputEvent::Click))
        if (!e.flag) downs.push_back(e);
    ASSERT_EQ(downs.size(), 4u);
    EXPECT_EQ(downs[1].button, MBT_RIGHT);
    EXPECT_EQ(downs[3].button, MBT_MIDDLE);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1, 1, 2, 1}));

    host().events.clear();
    SetDoubleClickTime(1);
    Click(150, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Click(150, 100);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1, 1}));
}

TEST_F(Input, AShiftClickSendsNothingButCapturesTheMouse) {
    Press(120, 90, 1, GDK_SHIFT_MASK);
    EXPECT_TRUE(host().Of(InputEvent::Click).empty());
    EXPECT_EQ(UiLib::GetCapture(), hwnd_);
    Release(120, 90, 1, GDK_SHIFT_MASK | GDK_BUTTON1_MASK);
    EXPECT_EQ(UiLib::GetCapture(), nullptr);
    // The release still goes out, with the count of the last real click (none yet).
    std::vector<InputEvent> clicks = host().Of(InputEvent::Click);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_TRUE(clicks[0].flag);
    EXPECT_TRUE(clicks[0].modifiers & EVENTFLAG_SHIFT_DOWN);
    // A shift-click does not count towards a double click either.
    Click(120, 90);
    EXPECT_EQ(DownCounts(), (std::vector<int>{1}));
}

TEST_F(Input, MovesArePageCoordinatesAndLeavingTheWindowIsReported) {
    Move(50, 60);
    std::vector<InputEvent> moves = host().Of(InputEvent::Move);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].x, 40);
    EXPECT_EQ(moves[0].y, 40);
    EXPECT_FALSE(moves[0].flag);
    // The move asked for a leave notice: the pointer leaving brings it.
    qmtest::PutCrossing(Window(), false);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const InputEvent& e : host().Of(InputEvent::Move))
            if (e.flag) return true;
        return false;
    }));
    host().events.clear();
    qmtest::PutCrossing(Window(), true);
    Move(52, 60);
    qmtest::PutCrossing(Window(), false);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const InputEvent& e : host().Of(InputEvent::Move))
            if (e.flag) return true;
        return false;
    })) << "a second leave after the pointer came back";
}

TEST_F(Input, TheWheelScrollsUpDownAndWithShiftSideways) {
    Move(150, 100);
    qmtest::PutScroll(Window(), 150, 100, GDK_SCROLL_UP);
    qmtest::PutScroll(Window(), 150, 100, GDK_SCROLL_DOWN);
    Drain();
    qmtest::PutKey(Window(), GDK_KEY_Shift_L, true);
    qmtest::PutScroll(Window(), 150, 100, GDK_SCROLL_DOWN);
    qmtest::PutKey(Window(), GDK_KEY_Shift_L, false);
    Drain();
    std::vector<InputEvent> wheels = host().Of(InputEvent::Wheel);
    ASSERT_EQ(wheels.size(), 3u);
    EXPECT_EQ(wheels[0].deltaY, 120);
    EXPECT_EQ(wheels[0].deltaX, 0);
    EXPECT_EQ(wheels[1].deltaY, -120);
    EXPECT_EQ(wheels[2].deltaX, -120);
    EXPECT_EQ(wheels[2].deltaY, 0);
    // The screen point becomes a page point.
    EXPECT_EQ(wheels[0].x, 150 - kArea.left);
    EXPECT_EQ(wheels[0].y, 100 - kArea.top);
}

TEST_F(Input, KeysGoOutAsRawDownCharAndUpWithTheirNativeCode) {
    qmtest::PutKey(Window(), GDK_KEY_a, true);
    qmtest::PutKey(Window(), GDK_KEY_a, false);
    Drain();
    std::vector<InputEvent> keys = host().Of(InputEvent::Key);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].key.type, KEYEVENT_RAWKEYDOWN);
    EXPECT_EQ(keys[0].key.windows_key_code, 'A');
    EXPECT_EQ(keys[1].key.type, KEYEVENT_CHAR);
    EXPECT_EQ(keys[1].key.windows_key_code, 'a');
    EXPECT_EQ(keys[2].key.type, KEYEVENT_KEYUP);
    EXPECT_FALSE(keys[0].key.is_system_key);
    // The native code is the message's lParam: its scan code names the key.
    unsigned scan = (static_cast<unsigned>(keys[0].key.native_key_code) >> 16) & 0xFF;
    EXPECT_NE(scan, 0u);
    EXPECT_EQ(keys[1].key.native_key_code, keys[0].key.native_key_code);

    host().events.clear();
    qmtest::PutKey(Window(), GDK_KEY_Alt_L, true);
    qmtest::PutKey(Window(), GDK_KEY_x, true, GDK_MOD1_MASK);
    qmtest::PutKey(Window(), GDK_KEY_x, false, GDK_MOD1_MASK);
    qmtest::PutKey(Window(), GDK_KEY_Alt_L, false);
    Drain();
    keys = host().Of(InputEvent::Key);
    bool sawSystemX = false;
    for (const InputEvent& e : keys) {
        if (e.key.windows_key_code == 'X' && e.key.type == KEYEVENT_RAWKEYDOWN) {
            sawSystemX = true;
            EXPECT_TRUE(e.key.is_system_key);
            EXPECT_TRUE(e.key.modifiers & EVENTFLAG_ALT_DOWN);
        }
    }
    EXPECT_TRUE(sawSystemX);
}

TEST_F(Input, FocusMessagesBecomeFocusEvents) {
    UiLib::SendMessageW(hwnd_, WM_SETFOCUS, 0, 0);
    UiLib::SendMessageW(hwnd_, WM_KILLFOCUS, 0, 0);
    std::vector<InputEvent> focus = host().Of(InputEvent::Focus);
    ASSERT_EQ(focus.size(), 2u);
    EXPECT_TRUE(focus[0].flag);
    EXPECT_FALSE(focus[1].flag);
}

TEST_F(Input, WithoutABrowserNothingIsSentAndTheWindowStillAnswers) {
    osr_->SetBrowser(nullptr);
    Click(100, 100);
    UiLib::SendMessageW(hwnd_, WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(host().events.empty());
    EXPECT_EQ(g_lastResult, 0);  // the default procedure's answer
    // The click still counted: the browser, back, sees a double click.
    osr_->SetBrowser(browser_.get());
    Click(100, 100);
    EXPECT_EQ(DownCounts(), (std::vector<int>{2}));
}

}  // namespace
