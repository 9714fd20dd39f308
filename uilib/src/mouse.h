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
}  // namespace detail
}  // namespace UiLib
