// Everything the library asks the X server directly: window ids, the search
// for top-level windows of any process by WM_CLASS and _NET_WM_NAME, and the
// client messages that carry posted messages, ShowWindow and activation
// requests to the process that owns a window. Only an X11 display has any of
// this: on another display (Wayland) every function does nothing and answers
// "none" (0, false, empty), so no X11 call can run there.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {
namespace x11 {

bool DisplayIsX11();
unsigned long XidOfWidget(GtkWidget* widget);
bool WindowManagerRunning();

// Turns our client messages arriving for local windows into their messages.
void InstallClientMessageFilter();

// Client windows (those with WM_CLASS) under the root, also inside window
// manager frames, in stacking order from bottom to top. Null `cls` or `title`
// matches any; comparisons ignore ASCII case.
std::vector<unsigned long> FindClientWindows(const std::string* cls, const std::string* title);

enum class Request : long { Post = 1, Show = 2, Activate = 3 };
// Sends a request to the owner of window `xid`; false when it is gone.
bool SendRequest(unsigned long xid, Request request, UINT message, WPARAM wParam, LPARAM lParam);
// Asks the window manager to activate `xid` (no-op without one).
void RequestActivation(unsigned long xid);

bool WindowExists(unsigned long xid);
std::string WindowTitle(unsigned long xid);
std::string WindowClass(unsigned long xid);
bool WindowGeometry(unsigned long xid, RECT* rect);

}  // namespace x11
}  // namespace detail
}  // namespace UiLib
