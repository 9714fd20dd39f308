// Keyboard: virtual-key codes from GDK key values, the key-state table behind
// GetAsyncKeyState / GetKeyState, and key events turned into WM_KEYDOWN,
// WM_KEYUP, WM_CHAR and their WM_SYS* forms.
#pragma once

#include <gdk/gdk.h>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// Virtual key of a key event (0 when there is none).
int VirtualKeyOf(const GdkEventKey& event);
// Whether Windows marks the key as extended (bit 24 of lParam).
bool IsExtendedKey(guint keyval);
// Records the key's state from an event seen anywhere in the process.
void TrackKeyEvent(const GdkEventKey& event);
void TrackMouseButton(guint button, bool down);
// Sends the key event's messages to `hwnd`.
void DeliverKeyEvent(HWND hwnd, const GdkEventKey& event);

}  // namespace detail
}  // namespace UiLib
