#include "uilib/keys.h"

#include "platform/win_types.h"

namespace UiLib {
namespace Keys {
namespace {

struct KeyPair {
    guint keyval;
    int vk;
};

// Key values and their virtual keys, both ways: the first pair of a virtual
// key names the key value it types unshifted. Ranges (letters, digits,
// function keys, keypad digits) are handled in code.
constexpr KeyPair kPairs[] = {
    {GDK_KEY_BackSpace, VK_BACK},
    {GDK_KEY_Tab, VK_TAB},
    {GDK_KEY_ISO_Left_Tab, VK_TAB},
    {GDK_KEY_Clear, VK_CLEAR},
    {GDK_KEY_KP_Begin, VK_CLEAR},
    {GDK_KEY_Return, VK_RETURN},
    {GDK_KEY_KP_Enter, VK_RETURN},
    {GDK_KEY_Shift_L, VK_SHIFT},
    {GDK_KEY_Shift_R, VK_SHIFT},
    {GDK_KEY_Control_L, VK_CONTROL},
    {GDK_KEY_Control_R, VK_CONTROL},
    {GDK_KEY_Alt_L, VK_MENU},
    {GDK_KEY_Alt_R, VK_MENU},
    {GDK_KEY_ISO_Level3_Shift, VK_MENU},
    {GDK_KEY_Meta_L, VK_MENU},
    {GDK_KEY_Meta_R, VK_MENU},
    {GDK_KEY_Pause, VK_PAUSE},
    {GDK_KEY_Caps_Lock, VK_CAPITAL},
    {GDK_KEY_Escape, VK_ESCAPE},
    {GDK_KEY_space, VK_SPACE},
    {GDK_KEY_KP_Space, VK_SPACE},
    {GDK_KEY_Page_Up, VK_PRIOR},
    {GDK_KEY_KP_Page_Up, VK_PRIOR},
    {GDK_KEY_Page_Down, VK_NEXT},
    {GDK_KEY_KP_Page_Down, VK_NEXT},
    {GDK_KEY_End, VK_END},
    {GDK_KEY_KP_End, VK_END},
    {GDK_KEY_Home, VK_HOME},
    {GDK_KEY_KP_Home, VK_HOME},
    {GDK_KEY_Left, VK_LEFT},
    {GDK_KEY_KP_Left, VK_LEFT},
    {GDK_KEY_Up, VK_UP},
    {GDK_KEY_KP_Up, VK_UP},
    {GDK_KEY_Right, VK_RIGHT},
    {GDK_KEY_KP_Right, VK_RIGHT},
    {GDK_KEY_Down, VK_DOWN},
    {GDK_KEY_KP_Down, VK_DOWN},
    {GDK_KEY_Print, VK_SNAPSHOT},
    {GDK_KEY_Insert, VK_INSERT},
    {GDK_KEY_KP_Insert, VK_INSERT},
    {GDK_KEY_Delete, VK_DELETE},
    {GDK_KEY_KP_Delete, VK_DELETE},
    {GDK_KEY_Super_L, VK_LWIN},
    {GDK_KEY_Super_R, VK_RWIN},
    {GDK_KEY_Menu, VK_APPS},
    {GDK_KEY_KP_Multiply, VK_MULTIPLY},
    {GDK_KEY_KP_Add, VK_ADD},
    {GDK_KEY_KP_Separator, VK_SEPARATOR},
    {GDK_KEY_KP_Subtract, VK_SUBTRACT},
    {GDK_KEY_KP_Decimal, VK_DECIMAL},
    {GDK_KEY_KP_Divide, VK_DIVIDE},
    {GDK_KEY_Num_Lock, VK_NUMLOCK},
    {GDK_KEY_Scroll_Lock, VK_SCROLL},
    // Punctuation: the US layout's unshifted character first, then the
    // shifted one, for events whose key is not on the keyboard's layout.
    {GDK_KEY_semicolon, VK_OEM_1},
    {GDK_KEY_colon, VK_OEM_1},
    {GDK_KEY_equal, VK_OEM_PLUS},
    {GDK_KEY_plus, VK_OEM_PLUS},
    {GDK_KEY_comma, VK_OEM_COMMA},
    {GDK_KEY_less, VK_OEM_COMMA},
    {GDK_KEY_minus, VK_OEM_MINUS},
    {GDK_KEY_underscore, VK_OEM_MINUS},
    {GDK_KEY_period, VK_OEM_PERIOD},
    {GDK_KEY_greater, VK_OEM_PERIOD},
    {GDK_KEY_slash, VK_OEM_2},
    {GDK_KEY_question, VK_OEM_2},
    {GDK_KEY_grave, VK_OEM_3},
    {GDK_KEY_asciitilde, VK_OEM_3},
    {GDK_KEY_bracketleft, VK_OEM_4},
    {GDK_KEY_braceleft, VK_OEM_4},
    {GDK_KEY_backslash, VK_OEM_5},
    {GDK_KEY_bar, VK_OEM_5},
    {GDK_KEY_bracketright, VK_OEM_6},
    {GDK_KEY_braceright, VK_OEM_6},
    {GDK_KEY_apostrophe, VK_OEM_7},
    {GDK_KEY_quotedbl, VK_OEM_7},
};

// The sided modifier codes; the first pair of a code is its key value.
constexpr KeyPair kSided[] = {
    {GDK_KEY_Shift_L, VK_LSHIFT},   {GDK_KEY_Shift_R, VK_RSHIFT},
    {GDK_KEY_Control_L, VK_LCONTROL}, {GDK_KEY_Control_R, VK_RCONTROL},
    {GDK_KEY_Alt_L, VK_LMENU},      {GDK_KEY_Meta_L, VK_LMENU},
    {GDK_KEY_Alt_R, VK_RMENU},      {GDK_KEY_Meta_R, VK_RMENU},
    {GDK_KEY_ISO_Level3_Shift, VK_RMENU},
};

constexpr int kFunctionKeys = 24;

template <size_t N>
int VkOf(const KeyPair (&pairs)[N], guint keyval) {
    for (const KeyPair& p : pairs)
        if (p.keyval == keyval) return p.vk;
    return 0;
}

template <size_t N>
guint KeyvalOf(const KeyPair (&pairs)[N], int vk) {
    for (const KeyPair& p : pairs)
        if (p.vk == vk) return p.keyval;
    return 0;
}

GdkKeymap* Keymap() {
    GdkDisplay* display = gdk_display_get_default();
    return display ? gdk_keymap_get_for_display(display) : nullptr;
}

bool IsKeypad(guint keyval) { return keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_9; }

// What the key that types `keyval` types with Shift on the keyboard's layout.
guint ShiftedOnLayout(guint keyval) {
    GdkKeymap* keymap = Keymap();
    guint16 keycode = KeycodeOfKeyval(keyval);
    guint shifted = 0;
    if (!keymap || !keycode ||
        !gdk_keymap_translate_keyboard_state(keymap, keycode, GDK_SHIFT_MASK, 0, &shifted, nullptr, nullptr,
                                             nullptr))
        return 0;
    return shifted;
}

}  // namespace

int VirtualKeyOfKeyval(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + static_cast<int>(keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return 'A' + static_cast<int>(keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + static_cast<int>(keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_F1 && keyval < GDK_KEY_F1 + kFunctionKeys)
        return VK_F1 + static_cast<int>(keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return VK_NUMPAD0 + static_cast<int>(keyval - GDK_KEY_KP_0);
    return VkOf(kPairs, keyval);
}

int VirtualKeyOfEvent(const GdkEventKey& event) {
    // The key's own meaning without Shift, so that '!' still reports '1'.
    GdkKeymap* keymap = Keymap();
    guint base = 0;
    if (event.hardware_keycode != 0 && keymap && !IsKeypad(event.keyval) &&
        gdk_keymap_translate_keyboard_state(keymap, event.hardware_keycode, static_cast<GdkModifierType>(0),
                                            event.group, &base, nullptr, nullptr, nullptr)) {
        if (int vk = VirtualKeyOfKeyval(base)) return vk;
    }
    return VirtualKeyOfKeyval(event.keyval);
}

int SidedVirtualKeyOfKeyval(guint keyval) { return VkOf(kSided, keyval); }

guint KeyvalOfVirtualKey(int vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') return (shift ? GDK_KEY_A : GDK_KEY_a) + static_cast<guint>(vk - 'A');
    if (vk >= VK_F1 && vk < VK_F1 + kFunctionKeys) return GDK_KEY_F1 + static_cast<guint>(vk - VK_F1);
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return GDK_KEY_KP_0 + static_cast<guint>(vk - VK_NUMPAD0);
    if (vk == VK_TAB && shift) return GDK_KEY_ISO_Left_Tab;
    guint keyval = 0;
    if (vk >= '0' && vk <= '9') keyval = GDK_KEY_0 + static_cast<guint>(vk - '0');
    else keyval = KeyvalOf(kPairs, vk);
    if (!keyval) keyval = KeyvalOf(kSided, vk);
    // Digits and punctuation type what the layout puts on the key's shifted level.
    bool printable = keyval > GDK_KEY_space && keyval <= GDK_KEY_asciitilde;
    if (shift && printable) return ShiftedOnLayout(keyval);
    return keyval;
}

guint16 KeycodeOfKeyval(guint keyval) {
    GdkKeymap* keymap = Keymap();
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

}  // namespace Keys
}  // namespace UiLib
