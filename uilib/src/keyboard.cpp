#include "keyboard.h"

#include <array>
#include <atomic>

#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_procs.h"

namespace UiLib {
namespace detail {
namespace {

std::array<std::atomic<bool>, 256> g_down{};
std::array<std::atomic<bool>, 256> g_toggled{};

constexpr int VK_OEM_1 = 0xBA;
constexpr int VK_OEM_PLUS = 0xBB;
constexpr int VK_OEM_COMMA = 0xBC;
constexpr int VK_OEM_MINUS = 0xBD;
constexpr int VK_OEM_PERIOD = 0xBE;
constexpr int VK_OEM_2 = 0xBF;
constexpr int VK_OEM_3 = 0xC0;
constexpr int VK_OEM_4 = 0xDB;
constexpr int VK_OEM_5 = 0xDC;
constexpr int VK_OEM_6 = 0xDD;
constexpr int VK_OEM_7 = 0xDE;
constexpr int VK_APPS = 0x5D;
constexpr int VK_SNAPSHOT = 0x2C;

int VirtualKeyOfKeyval(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + static_cast<int>(keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return 'A' + static_cast<int>(keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + static_cast<int>(keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return VK_F1 + static_cast<int>(keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return VK_NUMPAD0 + static_cast<int>(keyval - GDK_KEY_KP_0);
    switch (keyval) {
    case GDK_KEY_BackSpace: return VK_BACK;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab: return VK_TAB;
    case GDK_KEY_Clear:
    case GDK_KEY_KP_Begin: return VK_CLEAR;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: return VK_RETURN;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R: return VK_SHIFT;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return VK_CONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_ISO_Level3_Shift:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R: return VK_MENU;
    case GDK_KEY_Pause: return VK_PAUSE;
    case GDK_KEY_Caps_Lock: return VK_CAPITAL;
    case GDK_KEY_Escape: return VK_ESCAPE;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space: return VK_SPACE;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: return VK_PRIOR;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: return VK_NEXT;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return VK_END;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return VK_HOME;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return VK_LEFT;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return VK_UP;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return VK_RIGHT;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return VK_DOWN;
    case GDK_KEY_Print: return VK_SNAPSHOT;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert: return VK_INSERT;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return VK_DELETE;
    case GDK_KEY_Super_L: return VK_LWIN;
    case GDK_KEY_Super_R: return VK_RWIN;
    case GDK_KEY_Menu: return VK_APPS;
    case GDK_KEY_KP_Multiply: return VK_MULTIPLY;
    case GDK_KEY_KP_Add: return VK_ADD;
    case GDK_KEY_KP_Separator: return VK_SEPARATOR;
    case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
    case GDK_KEY_KP_Decimal: return VK_DECIMAL;
    case GDK_KEY_KP_Divide: return VK_DIVIDE;
    case GDK_KEY_Num_Lock: return VK_NUMLOCK;
    case GDK_KEY_Scroll_Lock: return VK_SCROLL;
    case GDK_KEY_semicolon:
    case GDK_KEY_colon: return VK_OEM_1;
    case GDK_KEY_equal:
    case GDK_KEY_plus: return VK_OEM_PLUS;
    case GDK_KEY_comma:
    case GDK_KEY_less: return VK_OEM_COMMA;
    case GDK_KEY_minus:
    case GDK_KEY_underscore: return VK_OEM_MINUS;
    case GDK_KEY_period:
    case GDK_KEY_greater: return VK_OEM_PERIOD;
    case GDK_KEY_slash:
    case GDK_KEY_question: return VK_OEM_2;
    case GDK_KEY_grave:
    case GDK_KEY_asciitilde: return VK_OEM_3;
    case GDK_KEY_bracketleft:
    case GDK_KEY_braceleft: return VK_OEM_4;
    case GDK_KEY_backslash:
    case GDK_KEY_bar: return VK_OEM_5;
    case GDK_KEY_bracketright:
    case GDK_KEY_braceright: return VK_OEM_6;
    case GDK_KEY_apostrophe:
    case GDK_KEY_quotedbl: return VK_OEM_7;
    default: return 0;
    }
}

// The left/right twin of a modifier key, tracked alongside the generic code.
int SidedKey(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Shift_L: return VK_LSHIFT;
    case GDK_KEY_Shift_R: return VK_RSHIFT;
    case GDK_KEY_Control_L: return VK_LCONTROL;
    case GDK_KEY_Control_R: return VK_RCONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Meta_L: return VK_LMENU;
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_R:
    case GDK_KEY_ISO_Level3_Shift: return VK_RMENU;
    default: return 0;
    }
}

bool Down(int vk) { return vk > 0 && vk < 256 && g_down[vk].load(); }

void SetDown(int vk, bool down) {
    if (vk <= 0 || vk >= 256) return;
    if (down && !g_down[vk].load()) g_toggled[vk] = !g_toggled[vk].load();
    g_down[vk] = down;
}

// The generic modifier is down while either side is.
void SyncGeneric() {
    g_down[VK_SHIFT] = Down(VK_LSHIFT) || Down(VK_RSHIFT);
    g_down[VK_CONTROL] = Down(VK_LCONTROL) || Down(VK_RCONTROL);
    g_down[VK_MENU] = Down(VK_LMENU) || Down(VK_RMENU);
}

LPARAM KeyLParam(const GdkEventKey& event, bool up, bool wasDown, bool alt) {
    std::uint32_t scan = event.hardware_keycode >= 8 ? (event.hardware_keycode - 8) & 0xFF : 0;
    std::uint32_t value = 1 | (scan << 16);
    if (IsExtendedKey(event.keyval)) value |= 1u << 24;
    if (alt) value |= 1u << 29;
    if (wasDown || up) value |= 1u << 30;
    if (up) value |= 1u << 31;
    return static_cast<LPARAM>(static_cast<std::int32_t>(value));
}

}  // namespace

int VirtualKeyOf(const GdkEventKey& event) {
    // The key's own meaning without Shift, so that '!' still reports '1'.
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    guint base = 0;
    if (event.hardware_keycode != 0 && keymap &&
        gdk_keymap_translate_keyboard_state(keymap, event.hardware_keycode, static_cast<GdkModifierType>(0),
                                            event.group, &base, nullptr, nullptr, nullptr)) {
        // Keypad keys keep their Num Lock meaning from the event itself.
        bool keypad = event.keyval >= GDK_KEY_KP_Space && event.keyval <= GDK_KEY_KP_9;
        if (!keypad) {
            int vk = VirtualKeyOfKeyval(base);
            if (vk) return vk;
        }
    }
    return VirtualKeyOfKeyval(event.keyval);
}

bool IsExtendedKey(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Insert:
    case GDK_KEY_Delete:
    case GDK_KEY_Home:
    case GDK_KEY_End:
    case GDK_KEY_Page_Up:
    case GDK_KEY_Page_Down:
    case GDK_KEY_Left:
    case GDK_KEY_Right:
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_Control_R:
    case GDK_KEY_Alt_R:
    case GDK_KEY_ISO_Level3_Shift:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_KP_Divide:
    case GDK_KEY_Num_Lock:
    case GDK_KEY_Print:
    case GDK_KEY_Super_L:
    case GDK_KEY_Super_R:
    case GDK_KEY_Menu:
        return true;
    default:
        return false;
    }
}

void TrackKeyEvent(const GdkEventKey& event) {
    bool down = event.type == GDK_KEY_PRESS;
    int vk = VirtualKeyOf(event);
    if (int sided = SidedKey(event.keyval)) {
        SetDown(sided, down);
        SyncGeneric();
        if (down) g_toggled[vk] = !g_toggled[vk].load();
        return;
    }
    SetDown(vk, down);
}

void TrackMouseButton(guint button, bool down) {
    switch (button) {
    case 1: g_down[VK_LBUTTON] = down; break;
    case 2: g_down[VK_MBUTTON] = down; break;
    case 3: g_down[VK_RBUTTON] = down; break;
    default: break;
    }
}

void DeliverKeyEvent(HWND hwnd, const GdkEventKey& event) {
    bool up = event.type == GDK_KEY_RELEASE;
    int vk = VirtualKeyOf(event);
    if (!vk) vk = 0xFF;  // a key without a virtual key still reports its scan code
    bool alt = Down(VK_MENU) || (event.state & GDK_MOD1_MASK);
    bool ctrl = Down(VK_CONTROL) || (event.state & GDK_CONTROL_MASK);
    // Alt without Ctrl (not AltGr) and F10 make system keys.
    bool system = (alt && !ctrl) || vk == VK_F1 + 9;
    // The state table already holds this event: a repeat is a press of a key that was down.
    static std::array<bool, 256> s_wasDown{};
    bool wasDown = vk < 256 && s_wasDown[vk];
    if (vk < 256) s_wasDown[vk] = !up;
    LPARAM lParam = KeyLParam(event, up, wasDown, alt);
    SetCurrentMessageTime(NowMs());
    UINT message = up ? (system ? WM_SYSKEYUP : WM_KEYUP) : (system ? WM_SYSKEYDOWN : WM_KEYDOWN);
    DispatchToWindow(hwnd, message, static_cast<WPARAM>(vk), lParam);
    if (up) return;
    gunichar ch = gdk_keyval_to_unicode(event.keyval);
    if (ctrl && !alt) {
        // Ctrl with a letter gives the control character, as on Windows.
        if (vk >= 'A' && vk <= 'Z') ch = static_cast<gunichar>(vk - 'A' + 1);
        else if (ch >= 0x20) ch = 0;
    }
    if (ch == 0 || ch == 0x7F) return;
    UINT charMessage = system ? WM_SYSCHAR : WM_CHAR;
    if (ch > 0xFFFF) {
        gunichar v = ch - 0x10000;
        DispatchToWindow(hwnd, charMessage, 0xD800 + (v >> 10), lParam);
        DispatchToWindow(hwnd, charMessage, 0xDC00 + (v & 0x3FF), lParam);
    } else {
        DispatchToWindow(hwnd, charMessage, ch, lParam);
    }
}

}  // namespace detail

short GetAsyncKeyState(int virtualKey) {
    return detail::Down(virtualKey) ? static_cast<short>(0x8000) : 0;
}

short GetKeyState(int virtualKey) {
    short state = GetAsyncKeyState(virtualKey);
    bool toggled = false;
    if (detail::GtkReady() && (virtualKey == VK_CAPITAL || virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL)) {
        GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
        if (virtualKey == VK_CAPITAL) toggled = gdk_keymap_get_caps_lock_state(keymap);
        else if (virtualKey == VK_NUMLOCK) toggled = gdk_keymap_get_num_lock_state(keymap);
        else toggled = gdk_keymap_get_scroll_lock_state(keymap);
    } else if (virtualKey > 0 && virtualKey < 256) {
        toggled = detail::g_toggled[virtualKey].load();
    }
    return static_cast<short>(state | (toggled ? 1 : 0));
}

}  // namespace UiLib
