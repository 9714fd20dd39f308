// Creation, destruction, visibility and texts of windows.
#include <algorithm>

#include "geometry.h"
#include "message_queue.h"
#include "mouse.h"
#include "platform/text.h"
#include "runtime.h"
#include "timers.h"
#include "toplevel.h"
#include "tray/tray.h"
#include "uilib/win32.h"
#include "window_procs.h"
#include "wayland_bridge.h"
#include "window_registry.h"
#include "x11_bridge.h"

namespace UiLib {
namespace detail {
namespace {

constexpr int kDefaultWidth = 400;
constexpr int kDefaultHeight = 300;

gboolean OnChildDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    PaintThroughMessage(static_cast<HWND>(data), cr);
    return FALSE;
}

// A child window created with WS_CHILD: a drawing area in the parent's client container.
bool BuildChild(WndObject& window, WndObject& parent, int x, int y, int cx, int cy) {
    if (!parent.fixed) return false;
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_add_events(area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                    GDK_SCROLL_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK);
    gtk_widget_set_size_request(area, std::max(cx, 0), std::max(cy, 0));
    gtk_fixed_put(GTK_FIXED(parent.fixed), area, x, y);
    g_signal_connect(area, "draw", G_CALLBACK(OnChildDraw), window.hwnd);
    window.widget = area;
    window.rect.left = x;
    window.rect.top = y;
    window.rect.right = x + std::max(cx, 0);
    window.rect.bottom = y + std::max(cy, 0);
    window.clientWidth = std::max(cx, 0);
    window.clientHeight = std::max(cy, 0);
    return true;
}

void SetVisible(WndObject& window, bool visible) {
    if (window.visible == visible) return;
    window.visible = visible;
    HWND hwnd = window.hwnd;
    SendMessageW(hwnd, WM_SHOWWINDOW, visible ? TRUE : FALSE, 0);
}

void ShowNormal(HWND hwnd, bool activate) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return;
    SetVisible(*window, true);
    window = FindWindowObject(hwnd);
    if (!window) return;
    MapToplevel(*window, activate);
}

void Minimize(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->iconic) return;
    SetVisible(*window, true);
    window = FindWindowObject(hwnd);
    if (!window || !window->widget) return;
    window->iconic = true;
    if (WindowManagerRunning()) {
        gtk_window_iconify(GTK_WINDOW(window->widget));
        MapToplevel(*window, false);
    } else {
        // Nobody would turn the window into an icon: take it off the screen;
        // restoring maps it again.
        window->iconicByUnmap = true;
        UnmapToplevel(*window);
    }
    SendMessageW(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
}

void Restore(HWND hwnd, bool activate) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return;
    if (window->iconic) {
        window->iconic = false;
        if (window->iconicByUnmap) {
            window->iconicByUnmap = false;
        } else if (window->widget) {
            gtk_window_deiconify(GTK_WINDOW(window->widget));
        }
        ShowNormal(hwnd, activate);
        if (WndObject* still = FindWindowObject(hwnd)) {
            SendMessageW(hwnd, WM_SIZE, still->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                         MAKELPARAM(still->clientWidth, still->clientHeight));
        }
        return;
    }
    if (window->maximized && window->widget) {
        window->maximized = false;
        if (window->maximizedByHand) {
            // Nobody maximised it but us: back to where it was.
            window->maximizedByHand = false;
            RECT before = window->restoreRect;
            ApplyGeometry(*window, before.left, before.top, before.right - before.left, before.bottom - before.top, 0);
        } else {
            gtk_window_unmaximize(GTK_WINDOW(window->widget));
        }
    }
    ShowNormal(hwnd, activate);
}

void Maximize(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window || !window->widget) return;
    if (window->iconic) Restore(hwnd, true);
    window = FindWindowObject(hwnd);
    if (!window) return;
    window->maximized = true;
    if (WindowManagerRunning()) {
        gtk_window_maximize(GTK_WINDOW(window->widget));
        ShowNormal(hwnd, true);
    } else {
        RECT work = WorkAreaFor(&window->rect);
        if (!window->maximizedByHand) window->restoreRect = window->rect;
        window->maximizedByHand = true;
        ShowNormal(hwnd, true);
        if (WndObject* still = FindWindowObject(hwnd)) {
            ApplyGeometry(*still, work.left, work.top, work.right - work.left, work.bottom - work.top, 0);
        }
    }
}

BOOL ShowLocal(HWND hwnd, int command) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return FALSE;
    BOOL wasVisible = window->visible ? TRUE : FALSE;
    if (window->kind == WndKind::Child) {
        bool show = command != SW_HIDE;
        if (window->widget) {
            if (show) {
                gtk_widget_show(window->widget);
            } else {
                gtk_widget_hide(window->widget);
            }
        }
        SetVisible(*window, show);
        return wasVisible;
    }
    switch (command) {
    case SW_HIDE:
        if (window->visible) {
            SetVisible(*window, false);
            if (WndObject* still = FindWindowObject(hwnd)) UnmapToplevel(*still);
        }
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
        Minimize(hwnd);
        break;
    case kSwMaximize:
        Maximize(hwnd);
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
        Restore(hwnd, true);
        break;
    case SW_SHOWNA:
        if (window->iconic) {
            Restore(hwnd, false);
        } else {
            ShowNormal(hwnd, false);
        }
        break;
    case SW_SHOW:
    default:
        if (window->iconic) {
            SetVisible(*window, true);
        } else {
            ShowNormal(hwnd, true);
        }
        break;
    }
    return wasVisible;
}

void DestroyLocal(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->destroying) return;
    window->destroying = true;
    // Owned top-level windows go first, as on Windows.
    for (HWND owned : ChildrenOf(hwnd)) {
        WndObject* o = FindWindowObject(owned);
        if (o && o->kind == WndKind::TopLevel) DestroyLocal(owned);
    }
    if (FindWindowObject(hwnd)) SendMessageW(hwnd, WM_DESTROY, 0, 0);
    for (HWND child : ChildrenOf(hwnd)) DestroyLocal(child);
    if (!FindWindowObject(hwnd)) return;
    KillAllTimers(hwnd);
    RemoveTrayIconsOf(hwnd);
    ForgetMouseState(hwnd);
    SendMessageW(hwnd, WM_NCDESTROY, 0, 0);
    window = FindWindowObject(hwnd);
    if (!window) return;
    if (window->reconcileSource) g_source_remove(window->reconcileSource);
    window->reconcileSource = 0;
    window->userData = nullptr;
    WndObject copy = *window;  // keeps the widget pointers past unregistering
    UnregisterWindow(hwnd);
    if (copy.kind == WndKind::TopLevel) {
        TearDownToplevel(copy);
    } else if (copy.widget) {
        g_signal_handlers_disconnect_by_data(copy.widget, hwnd);
        if (copy.ownsWidget) gtk_widget_destroy(copy.widget);
    }
}

void UnsetDropTargets(GtkWidget* widget, gpointer) {
    gtk_drag_dest_unset(widget);
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), &UnsetDropTargets, nullptr);
}

bool TextMatches(const std::wstring& actual, const wchar_t* wanted) {
    return !wanted || platform::EqualsIgnoreCaseAscii(actual, wanted);
}

}  // namespace
}  // namespace detail

using namespace detail;

HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU, HINSTANCE, void* param) {
    return CreateWindowImpl(exStyle, className, windowName, style, x, y, width, height, parent, param, false);
}

HWND detail::CreateWindowImpl(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style, int x,
                              int y, int width, int height, HWND parent, void* param, bool skinned) {
    if (!className || !className[0]) return nullptr;
    WNDPROC proc = ClassProcedure(className);
    if (!proc) {
        Log("CreateWindowExW: class not registered: " + ToUtf8(className));
        return nullptr;
    }
    if (!EnsureGtk()) return nullptr;
    return OnUiThread([&]() -> HWND {
        auto object = std::make_unique<WndObject>();
        object->className = className;
        object->title = windowName ? windowName : L"";
        object->style = style & ~WS_VISIBLE;
        object->exStyle = exStyle;
        object->proc = proc;
        object->parent = IsLocalWindow(parent) ? parent : nullptr;
        object->skinned = skinned;
        bool child = (style & WS_CHILD) && object->parent;
        object->kind = child ? WndKind::Child : WndKind::TopLevel;
        bool defaultPos = x == CW_USEDEFAULT || y == CW_USEDEFAULT;
        bool defaultSize = width == CW_USEDEFAULT || height == CW_USEDEFAULT || width <= 0 || height <= 0;
        if (defaultPos && !child) {
            RECT work = WorkAreaFor(nullptr);
            x = work.left + 64;
            y = work.top + 64;
        }
        if (defaultSize) width = height = 0;
        object->rect.left = x;
        object->rect.top = y;
        object->rect.right = x + width;
        object->rect.bottom = y + height;
        object->clientWidth = width;
        object->clientHeight = height;
        WndObject* raw = object.get();
        HWND hwnd = RegisterWindow(std::move(object));
        bool built = child ? BuildChild(*raw, *FindWindowObject(raw->parent), x, y, width, height)
                           : BuildToplevel(*raw, width, height);
        if (!built) {
            Log("CreateWindowExW: the toolkit window could not be made");
            DestroyLocal(hwnd);
            return nullptr;
        }
        if (SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(param)) == -1) {
            DestroyLocal(hwnd);
            return nullptr;
        }
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return nullptr;
        if (window->clientWidth == 0 && window->clientHeight == 0 && window->kind == WndKind::TopLevel) {
            ApplyGeometry(*window, 0, 0, kDefaultWidth, kDefaultHeight, SWP_NOMOVE);
        } else {
            SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(window->clientWidth, window->clientHeight));
        }
        if (!IsLocalWindow(hwnd)) return nullptr;
        if (style & WS_VISIBLE) ShowLocal(hwnd, SW_SHOW);
        return IsLocalWindow(hwnd) ? hwnd : nullptr;
    });
}

BOOL DestroyWindow(HWND hwnd) {
    return OnUiThread([&]() -> BOOL {
        if (!IsLocalWindow(hwnd)) return FALSE;
        DestroyLocal(hwnd);
        return TRUE;
    });
}

BOOL IsWindow(HWND hwnd) {
    if (!hwnd) return FALSE;
    if (IsForeignHandle(hwnd)) {
        return OnUiThread([&]() -> BOOL { return GtkReady() && x11::WindowExists(ForeignXid(hwnd)); });
    }
    return IsLocalWindow(hwnd) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
    return OnUiThread([&]() -> BOOL {
        for (WndObject* window = FindWindowObject(hwnd); window; window = FindWindowObject(window->parent)) {
            if (!window->visible) return FALSE;
            if (window->kind == WndKind::TopLevel) return TRUE;
        }
        return FALSE;
    });
}

BOOL IsIconic(HWND hwnd) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        return window && window->iconic ? TRUE : FALSE;
    });
}

BOOL ShowWindow(HWND hwnd, int command) {
    if (IsForeignHandle(hwnd)) {
        return OnUiThread([&]() -> BOOL {
            if (!GtkReady()) return FALSE;
            bool sent = x11::SendRequest(ForeignXid(hwnd), x11::Request::Show, 0, static_cast<WPARAM>(command), 0);
            return sent ? TRUE : FALSE;
        });
    }
    return OnUiThread([&]() -> BOOL { return ShowLocal(hwnd, command); });
}

BOOL FlashWindowEx(const FLASHWINFO* info) {
    if (!info || !IsLocalWindow(info->hwnd)) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = ToplevelObjectOf(info->hwnd);
        if (!window || !window->widget) return FALSE;
        bool before = gtk_window_get_urgency_hint(GTK_WINDOW(window->widget));
        bool attention = info->dwFlags != FLASHW_STOP;
        gtk_window_set_urgency_hint(GTK_WINDOW(window->widget), attention);
        // Wayland has no urgency hint: the window asks the compositor once.
        if (attention && !before) wayland::RequestAttention(window->widget);
        SetTrayAttentionOf(window->hwnd, attention);
        return before ? TRUE : FALSE;
    });
}

BOOL SetForegroundWindow(HWND hwnd) {
    if (IsForeignHandle(hwnd)) {
        return OnUiThread([&]() -> BOOL {
            if (!GtkReady()) return FALSE;
            unsigned long xid = ForeignXid(hwnd);
            bool sent = x11::SendRequest(xid, x11::Request::Activate, 0, 0, 0);
            x11::RequestActivation(xid);
            return sent ? TRUE : FALSE;
        });
    }
    return OnUiThread([&]() -> BOOL {
        WndObject* window = ToplevelObjectOf(hwnd);
        if (!window || !window->widget) return FALSE;
        // Bringing a window forward never shows a hidden one.
        if (!window->visible || window->iconic) return TRUE;
        if (GdkWindow* gdkWindow = gtk_widget_get_window(window->widget)) gdk_window_raise(gdkWindow);
        ActivateToplevel(*window);
        return TRUE;
    });
}

void SetActivationToken(const std::string& token) {
    if (!EnsureGtk()) return;
    OnUiThread([&] { SetPendingActivationToken(token); });
}

BOOL IsZoomed(HWND hwnd) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        return window && window->kind == WndKind::TopLevel && window->maximized ? TRUE : FALSE;
    });
}

BOOL CanPlaceWindows() {
    if (!EnsureGtk()) return FALSE;
    return OnUiThread([]() -> BOOL { return x11::DisplayIsX11() ? TRUE : FALSE; });
}

HWND GetParent(HWND hwnd) {
    return OnUiThread([&]() -> HWND {
        WndObject* window = FindWindowObject(hwnd);
        return window ? window->parent : nullptr;
    });
}

int GetWindowTextW(HWND hwnd, wchar_t* buffer, int maxCount) {
    if (!buffer || maxCount <= 0) return 0;
    std::wstring text = OnUiThread([&]() -> std::wstring {
        if (IsForeignHandle(hwnd)) return GtkReady() ? FromUtf8(x11::WindowTitle(ForeignXid(hwnd))) : L"";
        WndObject* window = FindWindowObject(hwnd);
        return window ? window->title : L"";
    });
    int count = std::min(static_cast<int>(text.size()), maxCount - 1);
    std::copy(text.begin(), text.begin() + count, buffer);
    buffer[count] = L'\0';
    return count;
}

BOOL SetWindowTextW(HWND hwnd, const wchar_t* text) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        window->title = text ? text : L"";
        if (window->kind == WndKind::TopLevel && window->widget) {
            gtk_window_set_title(GTK_WINDOW(window->widget), ToUtf8(window->title).c_str());
        }
        return TRUE;
    });
}

std::wstring GetWindowClassName(HWND hwnd) {
    return OnUiThread([&]() -> std::wstring {
        if (IsForeignHandle(hwnd)) return GtkReady() ? FromUtf8(x11::WindowClass(ForeignXid(hwnd))) : L"";
        WndObject* window = FindWindowObject(hwnd);
        return window ? window->className : L"";
    });
}

BOOL RevokeDragDrop(HWND hwnd) {
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        if (window->widget) UnsetDropTargets(window->widget, nullptr);
        return TRUE;
    });
}

HWND FindOwnWindow(const wchar_t* className, const wchar_t* title) {
    return OnUiThread([&]() -> HWND {
        for (HWND hwnd : AllWindows()) {
            WndObject* window = FindWindowObject(hwnd);
            if (!window || window->kind != WndKind::TopLevel || window->destroying) continue;
            if (TextMatches(window->className, className) && TextMatches(window->title, title)) return hwnd;
        }
        return nullptr;
    });
}

HWND FindWindowW(const wchar_t* className, const wchar_t* title) {
    if (!EnsureGtk()) return nullptr;
    if (HWND own = FindOwnWindow(className, title)) return own;
    return OnUiThread([&]() -> HWND {
        std::string cls = className ? ToUtf8(className) : std::string();
        std::string name = title ? ToUtf8(title) : std::string();
        std::vector<unsigned long> found =
            x11::FindClientWindows(className ? &cls : nullptr, title ? &name : nullptr);
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            if (WndObject* local = FindWindowByXid(*it)) {
                if (!local->destroying) return local->hwnd;
                continue;
            }
            return MakeForeignHandle(*it);
        }
        return nullptr;
    });
}

}  // namespace UiLib
