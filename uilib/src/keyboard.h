// Keyboard: the key-state table behind GetAsyncKeyState / GetKeyState, and key
// events turned into WM_KEYDOWN, WM_KEYUP, WM_CHAR and their WM_SYS* forms
// (virtual keys from the shared key map, uilib/keys.h).
#pragma once

#include <gdk/gdk.h>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// Records the key's state from an event seen anywhere in the process.
void TrackKeyEvent(const GdkEventKey& event);
void TrackMouseButton(guint button, bool down);
// Sends the key event's messages to `hwnd`.
void DeliverKeyEvent(HWND hwnd, const GdkEventKey& event);

}  // namespace detail
}  // namespace UiLib
