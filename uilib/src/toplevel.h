// The GTK side of a top-level window: a GtkWindow whose only child is the
// client container (a GtkFixed that asks for no size of its own, so that the
// window keeps the size it is given), painted through WM_PAINT.
#pragma once

#include <string>

#include "uilib/win32.h"
#include "window_registry.h"

// HDC during a paint: the cairo context of the client area.
struct HDC__ {
    cairo_t* cr = nullptr;
};

namespace UiLib {
namespace detail {

// Builds and realizes the GtkWindow (WM_CLASS = class name, title) without
// showing it; the X window exists from here on, so FindWindowW sees it.
bool BuildToplevel(WndObject& window, int width, int height);
// Destroys the GtkWindow (signal handlers find no window any more).
void TearDownToplevel(WndObject& window);
// Maps the window; `activate` also raises it and gives it the focus.
void MapToplevel(WndObject& window, bool activate);
void UnmapToplevel(WndObject& window);
// Whether a window manager runs on the screen.
bool WindowManagerRunning();
// Sends WM_PAINT for a GTK draw: wParam is the HDC, lParam the dirty rectangle,
// both valid only during the call.
void PaintThroughMessage(HWND hwnd, cairo_t* cr);
// Lets the window manager move the window with the pointer (a caption drag),
// or resize it by `edge`: while the first button is held.
void BeginMoveDrag(HWND hwnd);
void BeginResizeDrag(HWND hwnd, GdkWindowEdge edge);
// Raises the window and gives it the focus, with the token of the start that
// asked for it when one came (SetActivationToken).
void ActivateToplevel(WndObject& window);
void SetPendingActivationToken(const std::string& token);
// A WS_POPUP tool window on X11 is a popup menu: override-redirect, and it
// grabs pointer and keyboard while shown; a press elsewhere is WM_KILLFOCUS.
bool IsPopupMenu(const WndObject& window);

}  // namespace detail
}  // namespace UiLib
