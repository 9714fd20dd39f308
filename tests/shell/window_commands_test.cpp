// The window commands on a real window: "_min_window" at once, "_close_window"
// only after the current message, on the UI thread.
#include <gtest/gtest.h>

#include "core/shell/command_table.h"
#include "core/shell/ui_task_dispatcher.h"
#include "core/shell/web_wnd.h"
#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/UiLib.h"

using namespace std::chrono_literals;

using QNInterface::QNCEF::CEFRequest;

namespace {

class WindowCommands : public ::testing::Test {
protected:
    void SetUp() override {
        UITaskDispatcher::Get()->EnsureWindow();
        window_ = std::make_unique<QNInterface::WND::CQNWebWnd>(L"TestMainClass", L"/nonexistent/skin.xml", nullptr);
        ASSERT_TRUE(window_->Create(nullptr, L"Test", WS_OVERLAPPEDWINDOW, 0, 10, 10, 300, 200));
        window_->ShowWindow(true, false);
        RegisterPageCommands(window_.get());
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([this] {
            GdkWindow* shown = qmtest::GdkWindowOf(window_->GetHWND());
            return shown && gdk_window_is_viewable(shown);
        }));
    }
    void TearDown() override { UiLib::DestroyWindow(window_->GetHWND()); }
    std::unique_ptr<QNInterface::WND::CQNWebWnd> window_;
};

}  // namespace

TEST_F(WindowCommands, CloseWindowReturnsBeforeTheWindowHides) {
    HWND hwnd = window_->GetHWND();
    ASSERT_TRUE(UiLib::IsWindowVisible(hwnd));
    window_->Dispatch(CEFRequest{"_close_window", "", window_.get()});
    EXPECT_TRUE(UiLib::IsWindowVisible(hwnd)) << "hidden before the current message ended";
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([hwnd] { return !UiLib::IsWindowVisible(hwnd); }, 10s));
    EXPECT_TRUE(UiLib::IsWindow(hwnd)) << "the window must stay, reachable from the tray";
}

TEST_F(WindowCommands, MinWindowMinimisesTheRequestsWindow) {
    HWND hwnd = window_->GetHWND();
    window_->Dispatch(CEFRequest{"_min_window", "", window_.get()});
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([hwnd] { return UiLib::IsIconic(hwnd) != FALSE; }, 10s));
}

TEST_F(WindowCommands, CommandsForAWindowThatIsGoneDoNothing) {
    CEFRequest request{"_close_window", "", nullptr};
    window_->Dispatch(request);  // no window in the request
    window_->Dispatch(CEFRequest{"_min_window", "", nullptr});
    // Deferred work runs in the order it was posted: once a later task ran,
    // whatever the commands left behind ran too.
    bool later = false;
    ASSERT_NE(UITaskDispatcher::Get()->PostDelayedTask([&later] { later = true; }, 0), 0u);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&later] { return later; }, 10s));
    EXPECT_TRUE(UiLib::IsWindowVisible(window_->GetHWND()));
    EXPECT_FALSE(UiLib::IsIconic(window_->GetHWND()));
}
