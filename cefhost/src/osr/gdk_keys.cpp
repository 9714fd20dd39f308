#include "osr/gdk_keys.h"

#include "kxcef/cef_browser.h"

namespace kxcef {

GdkModifierType StateFromEventFlags(std::uint32_t flags) {
    guint state = 0;
    if (flags & EVENTFLAG_SHIFT_DOWN) state |= GDK_SHIFT_MASK;
    if (flags & EVENTFLAG_CONTROL_DOWN) state |= GDK_CONTROL_MASK;
    if (flags & EVENTFLAG_ALT_DOWN) state |= GDK_MOD1_MASK;
    if (flags & EVENTFLAG_CAPS_LOCK_ON) state |= GDK_LOCK_MASK;
    if (flags & EVENTFLAG_NUM_LOCK_ON) state |= GDK_MOD2_MASK;
    if (flags & EVENTFLAG_LEFT_MOUSE_BUTTON) state |= GDK_BUTTON1_MASK;
    if (flags & EVENTFLAG_MIDDLE_MOUSE_BUTTON) state |= GDK_BUTTON2_MASK;
    if (flags & EVENTFLAG_RIGHT_MOUSE_BUTTON) state |= GDK_BUTTON3_MASK;
    return static_cast<GdkModifierType>(state);
}

}  // namespace kxcef
