// The one map between the keyboard and Windows virtual keys: the window
// library's key messages, the browser's key events and off-screen input all
// use it, so a key has the same virtual key wherever it is seen.
// GTK interop: only the window library and the browser host include this header.
#pragma once

#include <gdk/gdk.h>

#include "uilib/export.h"

namespace UiLib {
namespace Keys {

// The virtual key of a key event: what the key means without Shift or any
// other level of the layout, so '!' reports '1' and ':' reports VK_OEM_1.
// Keypad keys keep the meaning the event gives them (Num Lock). 0 when the
// key has no virtual key.
UILIB_API int VirtualKeyOfEvent(const GdkEventKey& event);
// The virtual key of a key value taken as it is, without the keyboard's
// layout (the fallback of VirtualKeyOfEvent). 0 when there is none.
UILIB_API int VirtualKeyOfKeyval(guint keyval);
// The left or right form of a modifier key (VK_LSHIFT ... VK_RMENU), else 0.
UILIB_API int SidedVirtualKeyOfKeyval(guint keyval);
// The key value a virtual key types, without or with Shift (VK_LSHIFT and the
// other sided codes included). With Shift, a digit or punctuation key types
// what the keyboard's layout puts on its shifted level. 0 when there is none.
UILIB_API guint KeyvalOfVirtualKey(int vk, bool shift);
// The keyboard's key code that types `keyval` on the current layout, or 0.
UILIB_API guint16 KeycodeOfKeyval(guint keyval);
// Shift, Control, Alt, Super and the lock keys.
UILIB_API bool IsModifierKeyval(guint keyval);
// Whether Windows marks the key as extended (bit 24 of a key message's lParam).
UILIB_API bool IsExtendedKey(guint keyval);

}  // namespace Keys
}  // namespace UiLib
