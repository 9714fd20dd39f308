// A stand-in core module for launcher tests: it records every export call in
// the file QM_TEST_CORE_LOG and opens a window of the main window's class and
// title that logs the start-channel message ("2026") and ends the loop when asked.
//   QM_TEST_CORE_TITLE    window title (default "Rawen")
//   QM_TEST_CORE_HIDE     "1": hide the window right after showing it
//   QM_TEST_CORE_QUIT_MS  end the message loop after this many milliseconds
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/core_protocol.h"
#include "common/qm_core_exports.h"
#include "common/qn_interfaces.h"
#include "platform/text.h"
#include "tests/support/fake_web_wnd.h"
#include "uilib/UiLib.h"

namespace {

void Record(const std::string& line) {
    const char* path = std::getenv("QM_TEST_CORE_LOG");
    if (!path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

class TestMainWindow : public UiLib::CWindowWnd {
protected:
    const wchar_t* GetWindowClassName() const override { return core_protocol::kMainWindowClass; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == core_protocol::kStartChannelMessage) {
            Record("2026 visible=" + std::to_string(UiLib::IsWindowVisible(GetHWND()) ? 1 : 0));
            return 0;
        }
        if (message == WM_TIMER && wParam == 1) {
            UiLib::PostQuitMessage(0);
            return 0;
        }
        if (message == WM_CLOSE) {
            UiLib::PostQuitMessage(0);
            return 0;
        }
        return UiLib::CWindowWnd::HandleMessage(message, wParam, lParam);
    }
};

TestMainWindow* g_window = nullptr;
qmtest::FakeWebWnd g_webWnd;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) bool QNInitUI(IQNObserverUI* observer) {
    Record(std::string("QNInitUI manager=") + (observer && observer->GetWebWndManager() ? "yes" : "no"));
    return true;
}

__attribute__((visibility("default"))) QNInterface::WND::IQNWebWnd* QNCreateWebWnd(void*, const wchar_t* commandLine) {
    Record("QNCreateWebWnd " + platform::WideToUtf8(commandLine ? commandLine : L""));
    const char* title = std::getenv("QM_TEST_CORE_TITLE");
    std::wstring wtitle = platform::Utf8ToWide(title ? title : "Rawen");
    g_window = new TestMainWindow();
    if (!g_window->Create(nullptr, wtitle.c_str(), WS_OVERLAPPEDWINDOW, 0, 100, 100, 320, 200)) return nullptr;
    g_window->ShowWindow(true, false);
    if (const char* hide = std::getenv("QM_TEST_CORE_HIDE"); hide && std::string(hide) == "1")
        UiLib::ShowWindow(g_window->GetHWND(), SW_HIDE);
    if (const char* quit = std::getenv("QM_TEST_CORE_QUIT_MS")) UiLib::SetTimer(g_window->GetHWND(), 1, std::atoi(quit));
    Record("window ready");
    return &g_webWnd;
}

__attribute__((visibility("default"))) bool QNModuleStart(const wchar_t* commandLine) {
    Record("QNModuleStart " + platform::WideToUtf8(commandLine ? commandLine : L""));
    return true;
}

__attribute__((visibility("default"))) bool QNModuleStop() {
    Record("QNModuleStop");
    return true;
}

__attribute__((visibility("default"))) void* QNCreateWnd() { return nullptr; }

}  // extern "C"
