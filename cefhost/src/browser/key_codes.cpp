#include "browser/key_codes.h"

#include <gdk/gdkkeysyms.h>

#include "platform/win_types.h"

namespace kxcef {

int VirtualKeyFromKeyval(unsigned int keyval) {
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return VK_F1 + static_cast<int>(keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + static_cast<int>(keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return 'A' + static_cast<int>(keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + static_cast<int>(keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return VK_NUMPAD0 + static_cast<int>(keyval - GDK_KEY_KP_0);
    switch (keyval) {
        case GDK_KEY_BackSpace: return VK_BACK;
        case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return VK_TAB;
        case GDK_KEY_Clear: return VK_CLEAR;
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: return VK_RETURN;
        case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return VK_SHIFT;
        case GDK_KEY_Control_L: case GDK_KEY_Control_R: return VK_CONTROL;
        case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: return VK_MENU;
        case GDK_KEY_Pause: return VK_PAUSE;
        case GDK_KEY_Caps_Lock: return VK_CAPITAL;
        case GDK_KEY_Escape: return VK_ESCAPE;
        case GDK_KEY_space: return VK_SPACE;
        case GDK_KEY_Page_Up: return VK_PRIOR;
        case GDK_KEY_Page_Down: return VK_NEXT;
        case GDK_KEY_End: return VK_END;
        case GDK_KEY_Home: return VK_HOME;
        case GDK_KEY_Left: return VK_LEFT;
        case GDK_KEY_Up: return VK_UP;
        case GDK_KEY_Right: return VK_RIGHT;
        case GDK_KEY_Down: return VK_DOWN;
        case GDK_KEY_Insert: return VK_INSERT;
        case GDK_KEY_Delete: return VK_DELETE;
        case GDK_KEY_Super_L: return VK_LWIN;
        case GDK_KEY_Super_R: return VK_RWIN;
        case GDK_KEY_KP_Multiply: return VK_MULTIPLY;
        case GDK_KEY_KP_Add: return VK_ADD;
        case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
        case GDK_KEY_KP_Decimal: return VK_DECIMAL;
        case GDK_KEY_KP_Divide: return VK_DIVIDE;
        case GDK_KEY_Num_Lock: return VK_NUMLOCK;
        case GDK_KEY_Scroll_Lock: return VK_SCROLL;
        default: return 0;
    }
}

}  // namespace kxcef
