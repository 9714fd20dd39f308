#include "tests/uilib/test_util.h"

#include "tests/support/main_loop.h"
#include "uilib/native.h"

namespace qmtest {
namespace {

LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Recorded().push_back(Message{hwnd, message, wParam, lParam});
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

const wchar_t* RecordingWindow::kClassName = L"UiLibTestRecorder";

std::vector<Message>& Recorded() {
    static std::vector<Message> messages;
    return messages;
}

HWND CreateWindowOfClass(const wchar_t* className, WNDPROC proc, const wchar_t* title, DWORD style, int x, int y,
                         int width, int height) {
    UiLib::WNDCLASSW windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.lpszClassName = className;
    UiLib::RegisterClassW(&windowClass);  // fails harmlessly after the first time
    return UiLib::CreateWindowExW(0, className, title, style, x, y, width, height, nullptr, nullptr, nullptr, nullptr);
}

RecordingWindow::RecordingWindow(const wchar_t* title, DWORD style, int width, int height)
    : hwnd_(CreateWindowOfClass(kClassName, RecordingProc, title, style, 40, 50, width, height)) {}

RecordingWindow::~RecordingWindow() {
    if (UiLib::IsWindow(hwnd_)) UiLib::DestroyWindow(hwnd_);
}

std::vector<Message> RecordingWindow::Of(UINT message) const {
    std::vector<Message> out;
    for (const Message& m : Recorded()) {
        if (m.hwnd == hwnd_ && m.message == message) out.push_back(m);
    }
    return out;
}

void RecordingWindow::Clear() {
    auto& all = Recorded();
    std::vector<Message> kept;
    for (const Message& m : all) {
        if (m.hwnd != hwnd_) kept.push_back(m);
    }
    all.swap(kept);
}

GdkWindow* GdkWindowOf(HWND hwnd) {
    GtkWidget* widget = UiLib::Native::ToWidget(hwnd);
    return widget ? gtk_widget_get_window(widget) : nullptr;
}

bool ShowAndWait(HWND hwnd) {
    UiLib::ShowWindow(hwnd, SW_SHOWNORMAL);
    return PumpMainLoopUntil([hwnd] {
        GdkWindow* window = GdkWindowOf(hwnd);
        return window && gdk_window_is_viewable(window);
    });
}

}  // namespace qmtest
