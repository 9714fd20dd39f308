#include "keyboard.h"

#include <array>
#include <atomic>

#include "message_queue.h"
#include "runtime.h"
#include "uilib/keys.h"
#include "uilib/win32.h"
#include "window_procs.h"

namespace UiLib {
namespace detail {
namespace {

std::array<std::atomic<bool>, 256> g_down{};
std::array<std::atomic<bool>, 256> g_toggled{};

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
    if (Keys::IsExtendedKey(event.keyval)) value |= 1u << 24;
    if (alt) value |= 1u << 29;
    if (wasDown || up) value |= 1u << 30;
    if (up) value |= 1u << 31;
    return static_cast<LPARAM>(static_cast<std::int32_t>(value));
}

}  // namespace

void TrackKeyEvent(const GdkEventKey& event) {
    bool down = event.type == GDK_KEY_PRESS;
    int vk = Keys::VirtualKeyOfEvent(event);
    if (int sided = Keys::SidedVirtualKeyOfKeyval(event.keyval)) {
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
    UILIB_ASSERT_UI_THREAD();
    bool up = event.type == GDK_KEY_RELEASE;
    int vk = Keys::VirtualKeyOfEvent(event);
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
