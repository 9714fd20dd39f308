// A second process for the cross-process tests.
//   uilib_peer window <class> <title> <report file>
//     creates a window, minimises it and reports to the file what reaches it
//     from other processes; message WM_USER+99 ends it.
//   uilib_peer nodisplay
//     checks that lookups and creation fail cleanly without an X display.
#include <cstdio>
#include <cstring>
#include <string>

#include "uilib/UiLib.h"

namespace {

using namespace UiLib;

constexpr UINT kQuit = WM_USER + 99;
std::string g_report;

void Report(const std::string& line) {
    FILE* file = std::fopen(g_report.c_str(), "a");
    if (!file) return;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

LRESULT PeerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kQuit) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == 2026) {
        Report("2026 " + std::to_string(wParam) + " " + std::to_string(lParam));
        return 0;
    }
    if (message == WM_SIZE && wParam == SIZE_RESTORED && IsWindowVisible(hwnd)) Report("restored");
    if (message == WM_SETFOCUS) Report("focus");
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

int RunWindow(const char* cls, const char* title) {
    std::wstring className = Wide(cls);
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = PeerProc;
    windowClass.lpszClassName = className.c_str();
    RegisterClassW(&windowClass);
    HWND hwnd = CreateWindowExW(0, className.c_str(), Wide(title).c_str(), WS_POPUP, 100, 100, 200, 150, nullptr,
                                nullptr, nullptr, nullptr);
    if (!hwnd) return 2;
    ShowWindow(hwnd, SW_SHOW);
    ShowWindow(hwnd, SW_MINIMIZE);
    Report(IsIconic(hwnd) ? "iconic" : "not iconic");
    CPaintManagerUI::MessageLoop();
    Report("bye");
    return 0;
}

int RunWithoutDisplay() {
    if (FindWindowW(L"Anything", nullptr) != nullptr) return 3;
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"NoDisplay";
    RegisterClassW(&windowClass);
    if (CreateWindowExW(0, L"NoDisplay", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) return 4;
    // Posted messages still work without a display.
    PostQuitMessage(0);
    CPaintManagerUI::MessageLoop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "window") == 0) {
        g_report = argv[4];
        return RunWindow(argv[2], argv[3]);
    }
    if (argc == 2 && std::strcmp(argv[1], "nodisplay") == 0) return RunWithoutDisplay();
    return 1;
}
