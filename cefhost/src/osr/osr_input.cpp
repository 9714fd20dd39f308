// Input of windowless browsers: the host window's focus, key and mouse
// messages become the browser's input events. Click counting is shared by
// every windowless browser of the process, as the system's own double-click
// detection is.
#include <cstdlib>

#include "osr/osr_handler.h"
#include "uilib/win32.h"

namespace kxcef {
namespace {

struct ClickState {
    int lastX = 0;
    int lastY = 0;
    int button = -1;  // cef_mouse_button_type_t of the last click, -1 before any
    LONG time = 0;
    int count = 0;
    // The window whose leave notice is requested. A flag alone would stay set
    // for good when that window went away before the pointer left it.
    HWND tracking = nullptr;
    POINT dragStart;
};

// Only ever used on the UI thread, like the windows themselves.
ClickState g_click;

bool KeyDown(int vk) { return UiLib::GetKeyState(vk) < 0; }
bool Toggled(int vk) { return (UiLib::GetKeyState(vk) & 1) != 0; }

std::uint32_t ToggleFlags() {
    std::uint32_t flags = 0;
    if (Toggled(VK_CAPITAL)) flags |= EVENTFLAG_CAPS_LOCK_ON;
    if (Toggled(VK_NUMLOCK)) flags |= EVENTFLAG_NUM_LOCK_ON;
    return flags;
}

bool IsMouseDown(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

cef_mouse_button_type_t ButtonOf(UINT message) {
    switch (message) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: return MBT_RIGHT;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: return MBT_MIDDLE;
    default: return MBT_LEFT;
    }
}

// Which of a modifier's two keys is down: the left one first.
std::uint32_t SideFlag(int leftKey, int rightKey) {
    if (KeyDown(leftKey)) return EVENTFLAG_IS_LEFT;
    return KeyDown(rightKey) ? EVENTFLAG_IS_RIGHT : 0;
}

}  // namespace

std::uint32_t KeyboardModifiers(WPARAM wParam, LPARAM lParam) {
    std::uint32_t flags = ToggleFlags();
    if (KeyDown(VK_SHIFT)) flags |= EVENTFLAG_SHIFT_DOWN;
    if (KeyDown(VK_CONTROL)) flags |= EVENTFLAG_CONTROL_DOWN;
    if (KeyDown(VK_MENU)) flags |= EVENTFLAG_ALT_DOWN;
    const bool extended = (static_cast<std::uintptr_t>(lParam) & (1u << 24)) != 0;
    const int vk = static_cast<int>(wParam);
    switch (vk) {
    case VK_RETURN:
        if (extended) flags |= EVENTFLAG_IS_KEY_PAD;
        break;
    case VK_CLEAR:
    case VK_NUMLOCK:
        flags |= EVENTFLAG_IS_KEY_PAD;
        break;
    case VK_INSERT:
    case VK_DELETE:
        if (!extended) flags |= EVENTFLAG_IS_KEY_PAD;
        break;
    case VK_SHIFT:
        flags |= SideFlag(VK_LSHIFT, VK_RSHIFT);
        break;
    case VK_CONTROL:
        flags |= SideFlag(VK_LCONTROL, VK_RCONTROL);
        break;
    case VK_MENU:
        flags |= SideFlag(VK_LMENU, VK_RMENU);
        break;
    case VK_LWIN:
        flags |= EVENTFLAG_IS_LEFT;
        break;
    case VK_RWIN:
        flags |= EVENTFLAG_IS_RIGHT;
        break;
    default:
        if ((vk >= VK_NUMPAD0 && vk <= VK_ADD) || (vk >= VK_SUBTRACT && vk <= VK_DIVIDE)) {
            flags |= EVENTFLAG_IS_KEY_PAD;
        } else if (vk >= VK_PRIOR && vk <= VK_DOWN && !extended) {
            flags |= EVENTFLAG_IS_KEY_PAD;  // the navigation keys of the number pad
        }
        break;
    }
    return flags;
}

std::uint32_t MouseModifiers(WPARAM wParam) {
    std::uint32_t flags = ToggleFlags();
    if (wParam & MK_SHIFT) flags |= EVENTFLAG_SHIFT_DOWN;
    if (wParam & MK_CONTROL) flags |= EVENTFLAG_CONTROL_DOWN;
    if (KeyDown(VK_MENU)) flags |= EVENTFLAG_ALT_DOWN;
    if (wParam & MK_LBUTTON) flags |= EVENTFLAG_LEFT_MOUSE_BUTTON;
    if (wParam & MK_MBUTTON) flags |= EVENTFLAG_MIDDLE_MOUSE_BUTTON;
    if (wParam & MK_RBUTTON) flags |= EVENTFLAG_RIGHT_MOUSE_BUTTON;
    return flags;
}

LRESULT CCEF3OSRHandler::DealInputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CefRefPtr<CefBrowser> b = browser();
    CefRefPtr<CefBrowserHost> host = b ? b->GetHost() : nullptr;
    const RECT area = rect();

    int x = 0, y = 0;
    LONG now = 0;
    bool cancelled = false;
    if (message == WM_MOUSEMOVE || IsMouseDown(message) || message == WM_MOUSELEAVE) {
        x = GET_X_LPARAM(lParam) - area.left;
        y = GET_Y_LPARAM(lParam) - area.top;
        now = UiLib::GetMessageTime();
        // The double-click box is centred on the last click.
        cancelled = std::abs(g_click.lastX - x) > UiLib::GetSystemMetrics(UiLib::SM_CXDOUBLECLK) / 2 ||
                    std::abs(g_click.lastY - y) > UiLib::GetSystemMetrics(UiLib::SM_CYDOUBLECLK) / 2 ||
                    static_cast<DWORD>(now - g_click.time) > UiLib::GetDoubleClickTime();
        if (cancelled && (message == WM_MOUSEMOVE || message == WM_MOUSELEAVE)) {
            g_click.count = 0;
            g_click.lastX = 0;
            g_click.lastY = 0;
            g_click.time = 0;
        }
    }

    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (host) host->SendFocusEvent(message == WM_SETFOCUS);
        break;

    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR: {
        CefKeyEvent event;
        if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) event.type = KEYEVENT_RAWKEYDOWN;
        else if (message == WM_KEYUP || message == WM_SYSKEYUP) event.type = KEYEVENT_KEYUP;
        else event.type = KEYEVENT_CHAR;
        event.windows_key_code = static_cast<int>(wParam);
        event.native_key_code = static_cast<int>(lParam);
        event.is_system_key = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR;
        event.modifiers = KeyboardModifiers(wParam, lParam);
        if (host) host->SendKeyEvent(event);
        break;
    }

    case WM_MOUSEMOVE: {
        if (g_click.tracking != hwnd) {
            UiLib::TRACKMOUSEEVENT track;
            track.dwFlags = UiLib::TME_LEAVE;
            track.hwndTrack = hwnd;
            UiLib::TrackMouseEvent(&track);
            g_click.tracking = hwnd;
        }
        CefMouseEvent event;
        event.x = x;
        event.y = y;
        event.modifiers = MouseModifiers(wParam);
        if (host) host->SendMouseMoveEvent(event, false);
        break;
    }

    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        UiLib::SetCapture(hwnd);
        UiLib::SetFocus(hwnd);
        if (wParam & MK_SHIFT) {
            // The start of a drag: nothing reaches the page.
            g_click.dragStart.x = x;
            g_click.dragStart.y = y;
            break;
        }
        cef_mouse_button_type_t button = ButtonOf(message);
        if (cancelled || static_cast<int>(button) != g_click.button) {
            g_click.count = 1;
            g_click.lastX = x;
            g_click.lastY = y;
        } else {
            ++g_click.count;
        }
        g_click.button = button;
        g_click.time = now;
        CefMouseEvent event;
        event.x = x;
        event.y = y;
        event.modifiers = MouseModifiers(wParam);
        if (host) host->SendMouseClickEvent(event, button, false, g_click.count);
        break;
    }

    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        if (UiLib::GetCapture() == hwnd) UiLib::ReleaseCapture();
        CefMouseEvent event;
        event.x = GET_X_LPARAM(lParam) - area.left;
        event.y = GET_Y_LPARAM(lParam) - area.top;
        event.modifiers = MouseModifiers(wParam);
        if (host) host->SendMouseClickEvent(event, ButtonOf(message), true, g_click.count);
        break;
    }

    case WM_MOUSEWHEEL: {
        POINT point;
        point.x = GET_X_LPARAM(lParam);
        point.y = GET_Y_LPARAM(lParam);
        if (UiLib::WindowFromPoint(point) != hwnd) break;
        UiLib::ScreenToClient(hwnd, &point);
        CefMouseEvent event;
        // Page coordinates, like every other mouse event of this browser.
        event.x = point.x - area.left;
        event.y = point.y - area.top;
        event.modifiers = MouseModifiers(LOWORD(wParam));
        int delta = GET_WHEEL_DELTA_WPARAM(wParam);
        bool shift = (wParam & MK_SHIFT) || KeyDown(VK_SHIFT);
        if (host) host->SendMouseWheelEvent(event, shift ? delta : 0, shift ? 0 : delta);
        break;
    }

    case WM_MOUSELEAVE: {
        if (g_click.tracking) {
            UiLib::TRACKMOUSEEVENT track;
            track.dwFlags = UiLib::TME_CANCEL | UiLib::TME_LEAVE;
            track.hwndTrack = g_click.tracking;
            UiLib::TrackMouseEvent(&track);
            g_click.tracking = nullptr;
        }
        POINT point;
        UiLib::GetCursorPos(&point);
        UiLib::ScreenToClient(hwnd, &point);
        CefMouseEvent event;
        event.x = point.x - area.left;
        event.y = point.y - area.top;
        event.modifiers = MouseModifiers(wParam);
        if (host) host->SendMouseMoveEvent(event, true);
        break;
    }

    default:
        break;
    }
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace kxcef
