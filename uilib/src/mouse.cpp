#include "mouse.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>

#include "geometry.h"
#include "hooks.h"
#include "keyboard.h"
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_procs.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

constexpr UINT kHitClient = 1;  // HTCLIENT
constexpr int kWheelDelta = 120;

HWND g_capture = nullptr;
HWND g_hover = nullptr;  // the top-level window whose client area has the pointer
guint32 g_inputTime = GDK_CURRENT_TIME;

// The last left press on a window's frame, to tell a double click.
struct FramePress {
    HWND hwnd = nullptr;
    LRESULT hit = HTNOWHERE;
    guint32 time = 0;
    POINT pt;
};
FramePress g_lastFramePress;

// The resize cursor shown over an edge, and what the window under it had before.
struct FrameCursor {
    GdkWindow* window = nullptr;  // referenced while set
    GdkCursor* previous = nullptr;
    LRESULT hit = HTCLIENT;
};
FrameCursor g_frameCursor;

GdkWindow* GdkWindowOf(const WndObject& window) {
    return window.widget ? gtk_widget_get_window(window.widget) : nullptr;
}

HWND TargetOf(GdkWindow* eventWindow) {
    gpointer data = nullptr;
    gdk_window_get_user_data(eventWindow, &data);
    if (!data || !GTK_IS_WIDGET(data)) return nullptr;
    return FindHandleOfWidget(GTK_WIDGET(data));
}

// Event coordinates in the client area of `target`, whose top-level window is `top`.
POINT ClientPoint(HWND target, WndObject* top, GdkWindow* eventWindow, double x, double y, double rootX,
                  double rootY) {
    POINT point;
    WndObject* window = FindWindowObject(target);
    if (!window) return point;
    GdkWindow* topWindow = top ? GdkWindowOf(*top) : nullptr;
    // Walk the event's window up to the top-level window: exact even while a move is in flight.
    GdkWindow* w = eventWindow;
    while (w && w != topWindow) {
        int dx = 0, dy = 0;
        gdk_window_get_position(w, &dx, &dy);
        x += dx;
        y += dy;
        w = gdk_window_get_parent(w);
        if (w && gdk_window_get_window_type(w) == GDK_WINDOW_ROOT) w = nullptr;
    }
    if (!w) {
        POINT origin = ClientOrigin(*window);
        point.x = static_cast<LONG>(std::floor(rootX)) - origin.x;
        point.y = static_cast<LONG>(std::floor(rootY)) - origin.y;
        return point;
    }
    point.x = static_cast<LONG>(std::floor(x));
    point.y = static_cast<LONG>(std::floor(y));
    for (WndObject* c = window; c && c->kind == WndKind::Child; c = FindWindowObject(c->parent)) {
        point.x -= c->rect.left;
        point.y -= c->rect.top;
    }
    return point;
}

WPARAM KeyFlags(guint state) {
    WPARAM flags = 0;
    if (state & GDK_BUTTON1_MASK) flags |= MK_LBUTTON;
    if (state & GDK_BUTTON2_MASK) flags |= MK_MBUTTON;
    if (state & GDK_BUTTON3_MASK) flags |= MK_RBUTTON;
    if (state & GDK_SHIFT_MASK) flags |= MK_SHIFT;
    if (state & GDK_CONTROL_MASK) flags |= MK_CONTROL;
    return flags;
}

WPARAM ButtonFlag(guint button) {
    switch (button) {
    case 1: return MK_LBUTTON;
    case 2: return MK_MBUTTON;
    case 3: return MK_RBUTTON;
    default: return 0;
    }
}

UINT ButtonMessage(guint button, bool down) {
    switch (button) {
    case 1: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case 2: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    case 3: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    default: return 0;
    }
}

bool IsEdge(LRESULT hit) { return hit >= HTLEFT && hit <= HTBOTTOMRIGHT; }

const char* EdgeCursorName(LRESULT hit) {
    switch (hit) {
    case HTLEFT:
    case HTRIGHT: return "ew-resize";
    case HTTOP:
    case HTBOTTOM: return "ns-resize";
    case HTTOPLEFT:
    case HTBOTTOMRIGHT: return "nwse-resize";
    default: return "nesw-resize";
    }
}

void RestoreFrameCursor() {
    if (!g_frameCursor.window) return;
    if (!gdk_window_is_destroyed(g_frameCursor.window)) gdk_window_set_cursor(g_frameCursor.window, g_frameCursor.previous);
    if (g_frameCursor.previous) g_object_unref(g_frameCursor.previous);
    g_object_unref(g_frameCursor.window);
    g_frameCursor = FrameCursor();
}

// Over an edge the pointer shows which way the window will be resized, also
// where a native child (the browser) lies under it.
void ShowFrameCursor(GdkWindow* eventWindow, LRESULT hit) {
    if (!IsEdge(hit)) {
        RestoreFrameCursor();
        return;
    }
    if (g_frameCursor.window == eventWindow && g_frameCursor.hit == hit) return;
    RestoreFrameCursor();
    GdkCursor* previous = gdk_window_get_cursor(eventWindow);
    g_frameCursor.window = GDK_WINDOW(g_object_ref(eventWindow));
    g_frameCursor.previous = previous ? GDK_CURSOR(g_object_ref(previous)) : nullptr;
    g_frameCursor.hit = hit;
    GdkCursor* cursor = gdk_cursor_new_from_name(gdk_window_get_display(eventWindow), EdgeCursorName(hit));
    gdk_window_set_cursor(eventWindow, cursor);
    if (cursor) g_object_unref(cursor);
}

// A left press or a plain move over a top-level window's frame (an edge, the
// caption): the window's own message, not a client one. True when the event
// is the frame's: nobody else, the page included, sees it.
bool RouteFrameEvent(GdkEvent* event, WndObject* top, GdkWindow* eventWindow, POINT screen, guint state) {
    if (!top || top->kind != WndKind::TopLevel || g_capture) return false;
    bool press = event->type == GDK_BUTTON_PRESS && event->button.button == 1;
    bool hover = event->type == GDK_MOTION_NOTIFY &&
                 !(state & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK));
    if (!press && !hover) return false;
    HWND hwnd = top->hwnd;
    LRESULT hit = DispatchToWindow(hwnd, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
    if (hover) {
        ShowFrameCursor(eventWindow, hit);
        return IsEdge(hit);
    }
    if (hit == HTCLIENT || hit == HTNOWHERE) return false;
    RestoreFrameCursor();
    guint32 time = event->button.time;
    const FramePress& last = g_lastFramePress;
    bool twice = last.hwnd == hwnd && last.hit == hit && time - last.time <= GetDoubleClickTime() &&
                 std::abs(screen.x - last.pt.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
                 std::abs(screen.y - last.pt.y) <= GetSystemMetrics(SM_CYDOUBLECLK);
    // A third press starts afresh, as on Windows.
    g_lastFramePress = twice ? FramePress() : FramePress{hwnd, hit, time, screen};
    SetCurrentMessageTime(NowMs());
    DispatchToWindow(hwnd, twice ? WM_NCLBUTTONDBLCLK : WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit),
                     MAKELPARAM(screen.x, screen.y));
    return true;
}

}  // namespace

guint32 CurrentInputTime() {
    guint32 time = gtk_get_current_event_time();
    return time != GDK_CURRENT_TIME ? time : g_inputTime;
}

bool RouteMouseEvent(GdkEvent* event) {
    UILIB_ASSERT_UI_THREAD();
    GdkWindow* eventWindow = event->any.window;
    if (!eventWindow) return true;
    HWND target = TargetOf(eventWindow);
    if (!target) return true;
    if (g_capture && IsLocalWindow(g_capture)) target = g_capture;

    UINT message = 0;
    double x = 0, y = 0, rootX = 0, rootY = 0;
    GdkModifierType state = static_cast<GdkModifierType>(0);
    gdk_event_get_coords(event, &x, &y);
    gdk_event_get_root_coords(event, &rootX, &rootY);
    gdk_event_get_state(event, &state);
    WPARAM wParam = KeyFlags(state);
    int wheel = 0;
    switch (event->type) {
    case GDK_BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
        bool down = event->type == GDK_BUTTON_PRESS;
        TrackMouseButton(event->button.button, down);
        message = ButtonMessage(event->button.button, down);
        // The state is from before the event: add or drop this button.
        if (down) wParam |= ButtonFlag(event->button.button);
        else wParam &= ~ButtonFlag(event->button.button);
        break;
    }
    case GDK_MOTION_NOTIFY:
        message = WM_MOUSEMOVE;
        break;
    case GDK_SCROLL:
        message = WM_MOUSEWHEEL;
        if (event->scroll.direction == GDK_SCROLL_UP) wheel = kWheelDelta;
        else if (event->scroll.direction == GDK_SCROLL_DOWN) wheel = -kWheelDelta;
        else if (event->scroll.direction == GDK_SCROLL_SMOOTH)
            wheel = static_cast<int>(std::lround(-event->scroll.delta_y * kWheelDelta));
        if (wheel == 0) return true;
        break;
    default:
        return true;
    }
    if (!message) return true;

    POINT screen;
    screen.x = static_cast<LONG>(std::floor(rootX));
    screen.y = static_cast<LONG>(std::floor(rootY));
    WndObject* topWindow = ToplevelObjectOf(target);
    if (message == WM_MOUSEMOVE && topWindow && GdkWindowOf(*topWindow) == eventWindow) g_hover = topWindow->hwnd;
    g_inputTime = gdk_event_get_time(event);
    if (RouteFrameEvent(event, topWindow, eventWindow, screen, state)) return false;
    SetCurrentMessageTime(NowMs());
    if (MouseHooksInstalled()) {
        MOUSEHOOKSTRUCT data;
        data.pt = screen;
        data.hwnd = target;
        data.wHitTestCode = kHitClient;
        if (CallMouseHooks(message, &data) != 0) return false;
        if (!IsLocalWindow(target)) return true;
    }
    SetCurrentMessageTime(NowMs());
    if (message == WM_MOUSEWHEEL) {
        WPARAM packed = (static_cast<WPARAM>(static_cast<WORD>(static_cast<short>(wheel))) << 16) | (wParam & 0xFFFF);
        DispatchToWindow(target, message, packed, MAKELPARAM(screen.x, screen.y));
        return true;
    }
    POINT client = ClientPoint(target, topWindow, eventWindow, x, y, rootX, rootY);
    DispatchToWindow(target, message, wParam, MAKELPARAM(client.x, client.y));
    return true;
}

void RouteCrossingEvent(GdkEvent* event) {
    UILIB_ASSERT_UI_THREAD();
    GdkWindow* eventWindow = event->any.window;
    if (!eventWindow) return;
    HWND target = TargetOf(eventWindow);
    WndObject* window = FindWindowObject(target);
    if (!window || window->kind != WndKind::TopLevel || GdkWindowOf(*window) != eventWindow) return;
    if (event->type == GDK_ENTER_NOTIFY) {
        g_hover = target;
        return;
    }
    if (g_hover == target) g_hover = nullptr;
    if (window->trackingLeave) {
        window->trackingLeave = false;
        PostMessageW(target, WM_MOUSELEAVE, 0, 0);
    }
}

void ForgetMouseState(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    if (g_lastFramePress.hwnd == hwnd) g_lastFramePress = FramePress();
    if (g_capture == hwnd) g_capture = nullptr;
    if (g_hover == hwnd) g_hover = nullptr;
}

}  // namespace detail

using namespace detail;

HWND SetCapture(HWND hwnd) {
    return OnUiThread([&]() -> HWND {
        HWND previous = IsLocalWindow(g_capture) ? g_capture : nullptr;
        g_capture = IsLocalWindow(hwnd) ? hwnd : nullptr;
        return previous;
    });
}

BOOL ReleaseCapture() {
    return OnUiThread([&]() -> BOOL {
        g_capture = nullptr;
        return TRUE;
    });
}

HWND GetCapture() {
    return OnUiThread([&]() -> HWND { return IsLocalWindow(g_capture) ? g_capture : nullptr; });
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* track) {
    if (!track) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = ToplevelObjectOf(track->hwndTrack);
        if (!window) return FALSE;
        if (track->dwFlags & TME_CANCEL) {
            if (track->dwFlags & TME_LEAVE) window->trackingLeave = false;
            return TRUE;
        }
        if (!(track->dwFlags & TME_LEAVE)) return TRUE;
        if (g_hover != window->hwnd) {
            // The pointer is elsewhere already: the leave notice comes at once.
            window->trackingLeave = false;
            PostMessageW(window->hwnd, WM_MOUSELEAVE, 0, 0);
            return TRUE;
        }
        window->trackingLeave = true;
        return TRUE;
    });
}

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    return OnUiThread([&]() -> BOOL {
        if (!EnsureGtk()) return FALSE;
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
        if (!pointer) return FALSE;
        int x = 0, y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        point->x = x;
        point->y = y;
        return TRUE;
    });
}

}  // namespace UiLib
