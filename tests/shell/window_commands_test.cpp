// The window commands on a real window: "_min_window" at once, "_close_window"
// only after the current message, on the UI thread.
#include <gtest/gtest.h>

#include "core/shell/command_table.h"
#include "core/shell/ui_task_dispatcher.h"
#include "core/shell/web_wnd.h"
#include "uilib/UiLib.h"

using QNInterface::QNCEF::CEFRequest;

namespace {

// Runs the UI thread's loop for `ms` milliseconds.
void PumpFor(UINT ms) {
    static HWND timerWindow = nullptr;
    static const auto proc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_TIMER) {
            UiLib::KillTimer(hwnd, wParam);
            UiLib::PostQuitMessage(0);
            return 0;
        }
        return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
    };
    if (!timerWindow) {
        UiLib::WNDCLASSW wc;
        wc.lpfnWndProc = proc;
        wc.lpszClassName = L"PumpWindow";
        UiLib::RegisterClassW(&wc);
        timerWindow = UiLib::CreateWindowExW(0, L"PumpWindow", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                             nullptr);
    }
    UiLib::SetTimer(timerWindow, 1, ms);
    UiLib::CPaintManagerUI::MessageLoop();
}

class WindowCommands : public ::testing::Test {
protected:
    void SetUp() override {
        UITaskDispatcher::Get()->EnsureWindow();
        window_ = std::make_unique<QNInterface::WND::CQNWebWnd>(L"TestMainClass", L"/nonexistent/skin.xml", nullptr);
        ASSERT_TRUE(window_->Create(nullptr, L"Test", WS_OVERLAPPEDWINDOW, 0, 10, 10, 300, 200));
        window_->ShowWindow(true, false);
        RegisterPageCommands(window_.get());
        PumpFor(50);
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
    PumpFor(200);
    EXPECT_FALSE(UiLib::IsWindowVisible(hwnd));
    EXPECT_TRUE(UiLib::IsWindow(hwnd)) << "the window must stay, reachable from the tray";
}

TEST_F(WindowCommands, MinWindowMinimisesTheRequestsWindow) {
    HWND hwnd = window_->GetHWND();
    window_->Dispatch(CEFRequest{"_min_window", "", window_.get()});
    PumpFor(50);
    EXPECT_TRUE(UiLib::IsIconic(hwnd));
}

TEST_F(WindowCommands, CommandsForAWindowThatIsGoneDoNothing) {
    CEFRequest request{"_close_window", "", nullptr};
    window_->Dispatch(request);  // no window in the request
    window_->Dispatch(CEFRequest{"_min_window", "", nullptr});
    PumpFor(50);
    EXPECT_TRUE(UiLib::IsWindowVisible(window_->GetHWND()));
}
