// Rectangles, positions and coordinate conversions of windows.
#include <algorithm>

#include "geometry.h"
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_registry.h"
#include "x11_bridge.h"

namespace UiLib {

using namespace detail;

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    if (!rect) return FALSE;
    return OnUiThread([&]() -> BOOL {
        if (IsForeignHandle(hwnd)) return GtkReady() && x11::WindowGeometry(ForeignXid(hwnd), rect);
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        *rect = WindowRectOf(*window);
        return TRUE;
    });
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
    if (!rect) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        *rect = RECT();
        rect->right = window->clientWidth;
        rect->bottom = window->clientHeight;
        return TRUE;
    });
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        ApplyGeometry(*window, x, y, cx, cy, flags);
        window = FindWindowObject(hwnd);
        if (!window) return TRUE;
        if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
        if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
        window = FindWindowObject(hwnd);
        // HWND_TOP (null) without SWP_NOZORDER raises the window.
        if (window && !(flags & SWP_NOZORDER) && insertAfter == nullptr && window->visible && window->widget) {
            if (window->kind == WndKind::TopLevel) {
                if (GdkWindow* gdkWindow = gtk_widget_get_window(window->widget)) gdk_window_raise(gdkWindow);
            }
        }
        return TRUE;
    });
}

BOOL SetMinTrackSize(HWND hwnd, int cx, int cy) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window || window->kind != WndKind::TopLevel || !window->widget) return FALSE;
        GdkGeometry hints{};
        hints.min_width = std::max(cx, 1);
        hints.min_height = std::max(cy, 1);
        gtk_window_set_geometry_hints(GTK_WINDOW(window->widget), nullptr, &hints, GDK_HINT_MIN_SIZE);
        return TRUE;
    });
}

BOOL GetWorkAreaOf(const RECT& rect, RECT* work) {
    if (!work || !EnsureGtk()) return FALSE;
    *work = OnUiThread([&] { return WorkAreaFor(&rect); });
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    BOOL result = SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (result && repaint) InvalidateRect(hwnd, nullptr, TRUE);
    return result;
}

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    (void)erase;
    if (!IsLocalWindow(hwnd)) return FALSE;
    RECT area;
    bool whole = rect == nullptr;
    if (rect) area = *rect;
    auto invalidate = [hwnd, area, whole] {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return;
        GtkWidget* target = window->kind == WndKind::TopLevel ? window->fixed : window->widget;
        if (!target) return;
        if (whole) {
            gtk_widget_queue_draw(target);
        } else if (!IsRectEmpty(area)) {
            gtk_widget_queue_draw_area(target, area.left, area.top, area.right - area.left, area.bottom - area.top);
        }
    };
    // Repaint timers call this from their own threads: never wait for the UI thread here.
    if (IsUiThread() || !HasUiThread()) {
        invalidate();
    } else {
        RunOnUiAsync(invalidate);
    }
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
    if (!point) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        POINT origin = ClientOrigin(*window);
        point->x -= origin.x;
        point->y -= origin.y;
        return TRUE;
    });
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
    if (!point) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        POINT origin = ClientOrigin(*window);
        point->x += origin.x;
        point->y += origin.y;
        return TRUE;
    });
}

HWND WindowFromPoint(POINT screenPoint) {
    return OnUiThread([&]() -> HWND {
        if (!GtkReady()) return nullptr;
        // Our visible top-level windows under the point, the newest first.
        std::vector<WndObject*> hits;
        std::vector<HWND> all = AllWindows();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            WndObject* window = FindWindowObject(*it);
            if (!window || window->kind != WndKind::TopLevel || !window->visible || window->iconic) continue;
            if (PtInRect(WindowRectOf(*window), screenPoint)) hits.push_back(window);
        }
        if (hits.empty()) return nullptr;
        WndObject* top = hits.front();
        if (hits.size() > 1) {
            // Only overlapping windows need the server's stacking order (a
            // round trip per window): the highest one the server knows wins.
            std::vector<unsigned long> stacking = x11::FindClientWindows(nullptr, nullptr);
            bool placed = false;
            for (auto it = stacking.rbegin(); it != stacking.rend() && !placed; ++it) {
                for (WndObject* hit : hits) {
                    if (hit->xid == *it) {
                        top = hit;
                        placed = true;
                        break;
                    }
                }
            }
        }
        // The deepest visible child under the point, later children on top.
        HWND found = top->hwnd;
        for (bool descended = true; descended;) {
            descended = false;
            std::vector<HWND> children = ChildrenOf(found);
            for (auto c = children.rbegin(); c != children.rend(); ++c) {
                WndObject* child = FindWindowObject(*c);
                if (!child || child->kind != WndKind::Child || !child->visible) continue;
                if (PtInRect(WindowRectOf(*child), screenPoint)) {
                    found = *c;
                    descended = true;
                    break;
                }
            }
        }
        return found;
    });
}

}  // namespace UiLib
