// Plain windows that host the benchmarks' browsers.
#pragma once

#include <set>
#include <string>

#include "uilib/win32.h"

namespace qmbench {

// A host window's procedure: it stays until it is destroyed.
inline LRESULT KeepOpenProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return m == WM_CLOSE ? 0 : UiLib::DefWindowProcW(h, m, w, l);
}

// A shown window of class `className`, registered with `proc` on its first use.
inline HWND ShowHostWindow(const wchar_t* className, WNDPROC proc, DWORD style, int width, int height) {
    static std::set<std::wstring> registered;
    if (registered.insert(className).second) {
        UiLib::WNDCLASSW wc;
        wc.lpfnWndProc = proc;
        wc.lpszClassName = className;
        UiLib::RegisterClassW(&wc);
    }
    HWND h = UiLib::CreateWindowExW(0, className, L"bench", style, 0, 0, width, height, nullptr, nullptr, nullptr,
                                    nullptr);
    UiLib::ShowWindow(h, SW_SHOW);
    return h;
}

}  // namespace qmbench
