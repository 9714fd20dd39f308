#include "osr/gdk_keys.h"

#include "kxcef/cef_browser.h"
#include "platform/win_types.h"

namespace kxcef {

guint KeyvalFromVirtualKey(int vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') return (shift ? GDK_KEY_A : GDK_KEY_a) + static_cast<guint>(vk - 'A');
    if (vk >= '0' && vk <= '9' && !shift) return GDK_KEY_0 + static_cast<guint>(vk - '0');
    if (vk >= VK_F1 && vk < VK_F1 + 24) return GDK_KEY_F1 + static_cast<guint>(vk - VK_F1);
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return GDK_KEY_KP_0 + static_cast<guint>(vk - VK_NUMPAD0);
    switch (vk) {
    case VK_BACK: return GDK_KEY_BackSpace;
    case VK_TAB: return shift ? GDK_KEY_ISO_Left_Tab : GDK_KEY_Tab;
    case VK_CLEAR: return GDK_KEY_Clear;
    case VK_RETURN: return GDK_KEY_Return;
    case VK_SHIFT:
    case VK_LSHIFT: return GDK_KEY_Shift_L;
    case VK_RSHIFT: return GDK_KEY_Shift_R;
    case VK_CONTROL:
    case VK_LCONTROL: return GDK_KEY_Control_L;
    case VK_RCONTROL: return GDK_KEY_Control_R;
    case VK_MENU:
    case VK_LMENU: return GDK_KEY_Alt_L;
    case VK_RMENU: return GDK_KEY_Alt_R;
    case VK_PAUSE: return GDK_KEY_Pause;
    case VK_CAPITAL: return GDK_KEY_Caps_Lock;
    case VK_ESCAPE: return GDK_KEY_Escape;
    case VK_SPACE: return GDK_KEY_space;
    case VK_PRIOR: return GDK_KEY_Page_Up;
    case VK_NEXT: return GDK_KEY_Page_Down;
    case VK_END: return GDK_KEY_End;
    case VK_HOME: return GDK_KEY_Home;
    case VK_LEFT: return GDK_KEY_Left;
    case VK_UP: return GDK_KEY_Up;
    case VK_RIGHT: return GDK_KEY_Right;
    case VK_DOWN: return GDK_KEY_Down;
    case VK_INSERT: return GDK_KEY_Insert;
    case VK_DELETE: return GDK_KEY_Delete;
    case VK_LWIN: return GDK_KEY_Super_L;
    case VK_RWIN: return GDK_KEY_Super_R;
    case VK_MULTIPLY: return GDK_KEY_KP_Multiply;
    case VK_ADD: return GDK_KEY_KP_Add;
    case VK_SEPARATOR: return GDK_KEY_KP_Separator;
    case VK_SUBTRACT: return GDK_KEY_KP_Subtract;
    case VK_DECIMAL: return GDK_KEY_KP_Decimal;
    case VK_DIVIDE: return GDK_KEY_KP_Divide;
    case VK_NUMLOCK: return GDK_KEY_Num_Lock;
    case VK_SCROLL: return GDK_KEY_Scroll_Lock;
    default: return 0;
    }
}

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

guint16 KeycodeOfKeyval(guint keyval) {
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    guint16 keycode = 0;
    if (keymap && gdk_keymap_get_entries_for_keyval(keymap, keyval, &keys, &count) && count > 0)
        keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    return keycode;
}

bool IsModifierKeyval(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Super_L:
    case GDK_KEY_Super_R:
    case GDK_KEY_Caps_Lock:
    case GDK_KEY_Num_Lock:
    case GDK_KEY_ISO_Level3_Shift:
        return true;
    default:
        return false;
    }
}

}  // namespace kxcef
