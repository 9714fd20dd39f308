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

}  // namespace detail
}  // namespace UiLib

namespace UiLib {
namespace detail {
// The next window this thread creates belongs to a CWindowWnd (skinned, no frame).
void MarkNextWindowSkinned();
bool TakeNextWindowSkinned();
}  // namespace detail
}  // namespace UiLib
