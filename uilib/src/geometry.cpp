#include "geometry.h"

#include "runtime.h"
#include "uilib/win32.h"
#include "x11_bridge.h"

namespace UiLib {
namespace detail {
namespace {

constexpr std::int64_t kRequestSettleMs = 300;

bool RequestInFlight(const WndObject& window) {
    return NowMs() - window.lastGeometryRequest < kRequestSettleMs;
}

void SendSize(WndObject& window) {
    WPARAM kind = window.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
    SendMessageW(window.hwnd, WM_SIZE, kind, MAKELPARAM(window.clientWidth, window.clientHeight));
}

void SendMove(WndObject& window) {
    POINT origin = ClientOrigin(window);
    SendMessageW(window.hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
}

// Reads what the server really did once our requests had time to land.
gboolean Reconcile(gpointer data) {
    HWND hwnd = static_cast<HWND>(data);
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return G_SOURCE_REMOVE;
    window->reconcileSource = 0;
    if (!window->widget || !gtk_widget_get_mapped(window->widget)) return G_SOURCE_REMOVE;
    GdkWindow* gdkWindow = gtk_widget_get_window(window->widget);
    if (!gdkWindow) return G_SOURCE_REMOVE;
    int originX = 0, originY = 0;
    gdk_window_get_origin(gdkWindow, &originX, &originY);
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdkWindow, &frame);
    // The client's size as the X server has it now, like the frame: the
    // toolkit's allocation may still be that of an earlier configure on a
    // busy machine, and the two mixed make a "decoration" of the difference,
    // which the next resize subtracts (a restore that lands on the minimum).
    int width = 0, height = 0;
    RECT live;
    if (x11::WindowGeometry(x11::XidOfWidget(window->widget), &live)) {
        width = live.right - live.left;
        height = live.bottom - live.top;
    }
    if (width <= 1 || height <= 1) {
        GtkAllocation allocation;
        gtk_widget_get_allocation(window->fixed, &allocation);
        width = allocation.width > 1 ? allocation.width : window->clientWidth;
        height = allocation.height > 1 ? allocation.height : window->clientHeight;
    }
    bool sized = width != window->clientWidth || height != window->clientHeight;
    window->frameLeft = originX - frame.x;
    window->frameTop = originY - frame.y;
    RECT rect;
    rect.left = frame.x;
    rect.top = frame.y;
    rect.right = frame.x + std::max(frame.width, width);
    rect.bottom = frame.y + std::max(frame.height, height);
    bool moved = rect.left != window->rect.left || rect.top != window->rect.top;
    window->rect = rect;
    window->clientWidth = width;
    window->clientHeight = height;
    if (moved) SendMove(*window);
    if (sized && FindWindowObject(hwnd)) SendSize(*window);
    return G_SOURCE_REMOVE;
}

void ScheduleReconcile(WndObject& window) {
    if (window.reconcileSource) g_source_remove(window.reconcileSource);
    window.reconcileSource = g_timeout_add(kRequestSettleMs + 20, Reconcile, window.hwnd);
}

}  // namespace

void OnToplevelConfigured(HWND hwnd, int clientX, int clientY) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->kind != WndKind::TopLevel) return;
    if (RequestInFlight(*window)) return;
    int left = clientX - window->frameLeft;
    int top = clientY - window->frameTop;
    if (left == window->rect.left && top == window->rect.top) return;
    int width = window->rect.right - window->rect.left;
    int height = window->rect.bottom - window->rect.top;
    window->rect.left = left;
    window->rect.top = top;
    window->rect.right = left + width;
    window->rect.bottom = top + height;
    SendMove(*window);
}

void OnClientResized(HWND hwnd, int width, int height) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->kind != WndKind::TopLevel || window->iconic) return;
    if (width <= 1 && height <= 1) return;  // not allocated yet
    if (width == window->clientWidth && height == window->clientHeight) return;
    if (RequestInFlight(*window)) {
        ScheduleReconcile(*window);
        return;
    }
    int decoW = (window->rect.right - window->rect.left) - window->clientWidth;
    int decoH = (window->rect.bottom - window->rect.top) - window->clientHeight;
    window->clientWidth = width;
    window->clientHeight = height;
    window->rect.right = window->rect.left + width + std::max(decoW, 0);
    window->rect.bottom = window->rect.top + height + std::max(decoH, 0);
    SendSize(*window);
}

void OnChildAllocated(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->kind != WndKind::Child || !window->widget) return;
    if (RequestInFlight(*window) || !gtk_widget_get_mapped(window->widget)) return;
    WndObject* parent = FindWindowObject(window->parent);
    if (!parent || !parent->fixed) return;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(window->widget, parent->fixed, 0, 0, &x, &y)) return;
    GtkAllocation allocation;
    gtk_widget_get_allocation(window->widget, &allocation);
    window->rect.left = x;
    window->rect.top = y;
    window->rect.right = x + allocation.width;
    window->rect.bottom = y + allocation.height;
}

void ApplyGeometry(WndObject& window, int x, int y, int cx, int cy, UINT flags) {
    UILIB_ASSERT_UI_THREAD();
    // Where the compositor alone places windows (Wayland) a top-level window
    // stays where it is, and its rectangle at the origin it reports.
    bool move = !(flags & SWP_NOMOVE) && (window.kind != WndKind::TopLevel || x11::DisplayIsX11());
    bool size = !(flags & SWP_NOSIZE);
    if (cx < 0) cx = 0;
    if (cy < 0) cy = 0;
    int oldWidth = window.rect.right - window.rect.left;
    int oldHeight = window.rect.bottom - window.rect.top;
    int newX = move ? x : window.rect.left;
    int newY = move ? y : window.rect.top;
    int newWidth = size ? cx : oldWidth;
    int newHeight = size ? cy : oldHeight;
    bool moved = newX != window.rect.left || newY != window.rect.top;
    bool sized = newWidth != oldWidth || newHeight != oldHeight;
    if (!moved && !sized) return;
    window.lastGeometryRequest = NowMs();
    int decoW = oldWidth - window.clientWidth;
    int decoH = oldHeight - window.clientHeight;
    window.rect.left = newX;
    window.rect.top = newY;
    window.rect.right = newX + newWidth;
    window.rect.bottom = newY + newHeight;

    if (window.kind == WndKind::TopLevel) {
        if (window.widget) {
            if (moved) gtk_window_move(GTK_WINDOW(window.widget), newX, newY);
            if (sized) {
                int clientW = std::max(newWidth - std::max(decoW, 0), 1);
                int clientH = std::max(newHeight - std::max(decoH, 0), 1);
                gtk_window_resize(GTK_WINDOW(window.widget), clientW, clientH);
            }
            ScheduleReconcile(window);
        }
        if (sized) {
            window.clientWidth = std::max(newWidth - std::max(decoW, 0), 0);
            window.clientHeight = std::max(newHeight - std::max(decoH, 0), 0);
        }
        HWND hwnd = window.hwnd;
        if (moved) SendMove(window);
        WndObject* still = FindWindowObject(hwnd);
        if (sized && still) SendSize(*still);
        return;
    }

    // A native child: its place in the parent's GtkFixed and its size request.
    window.clientWidth = newWidth;
    window.clientHeight = newHeight;
    if (window.widget) {
        GtkWidget* container = gtk_widget_get_parent(window.widget);
        if (moved && container && GTK_IS_FIXED(container)) {
            gtk_fixed_move(GTK_FIXED(container), window.widget, newX, newY);
        }
        if (sized) gtk_widget_set_size_request(window.widget, newWidth, newHeight);
    }
}

POINT ClientOrigin(const WndObject& window) {
    POINT origin;
    if (window.kind == WndKind::TopLevel) {
        origin.x = window.rect.left + window.frameLeft;
        origin.y = window.rect.top + window.frameTop;
        return origin;
    }
    if (WndObject* parent = FindWindowObject(window.parent)) origin = ClientOrigin(*parent);
    origin.x += window.rect.left;
    origin.y += window.rect.top;
    return origin;
}

RECT WindowRectOf(const WndObject& window) {
    if (window.kind == WndKind::TopLevel) return window.rect;
    POINT origin = ClientOrigin(window);
    RECT rect;
    rect.left = origin.x;
    rect.top = origin.y;
    rect.right = origin.x + (window.rect.right - window.rect.left);
    rect.bottom = origin.y + (window.rect.bottom - window.rect.top);
    return rect;
}

RECT WorkAreaFor(const RECT* rect) {
    RECT area;
    area.right = 1024;
    area.bottom = 768;
    if (!GtkReady()) return area;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = nullptr;
    if (rect) {
        monitor = gdk_display_get_monitor_at_point(display, (rect->left + rect->right) / 2,
                                                   (rect->top + rect->bottom) / 2);
    }
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return area;
    GdkRectangle work;
    gdk_monitor_get_workarea(monitor, &work);
    area.left = work.x;
    area.top = work.y;
    area.right = work.x + work.width;
    area.bottom = work.y + work.height;
    return area;
}

}  // namespace detail
}  // namespace UiLib
