// Delivery of a message to a window's current procedure, and window classes.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// Calls the window's procedure on the UI thread; 0 when the window is gone.
LRESULT DispatchToWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The procedure registered for a class, or null.
WNDPROC ClassProcedure(const std::wstring& className);
void RegisterClassProcedure(const std::wstring& className, WNDPROC proc);

// Internal values that the shared header does not name.
constexpr int kSwMaximize = 3;
constexpr WPARAM kScMask = 0xFFF0;

// CreateWindowExW, also for windows of a CWindowWnd: `skinned` ones draw their
// own frame, so the toolkit gives them none.
HWND CreateWindowImpl(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x, int y,
                      int width, int height, HWND parent, void* param, bool skinned);

}  // namespace detail
}  // namespace UiLib
