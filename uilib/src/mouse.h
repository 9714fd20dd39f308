// Mouse events turned into window messages (after the WH_MOUSE hooks saw
// them), capture, leave tracking and the cursor position.
#pragma once

#include <gdk/gdk.h>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {
// False when a hook swallowed the event (the toolkit must not see it either).
bool RouteMouseEvent(GdkEvent* event);
void RouteCrossingEvent(GdkEvent* event);
// The window is going away: drop capture and hover state that name it.
void ForgetMouseState(HWND hwnd);
// Time of the input event being handled (GDK_CURRENT_TIME when unknown), for
// requests to the desktop that it checks against the user's last input.
guint32 CurrentInputTime();
}  // namespace detail
}  // namespace UiLib
