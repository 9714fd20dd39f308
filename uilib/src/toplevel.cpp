#include "toplevel.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include "geometry.h"
#include "mouse.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_procs.h"
#include "x11_bridge.h"

// A GtkFixed that requests no size: the client area is as large as the window
// is made, whatever native children it holds. A new size is announced to the
// window (WM_SIZE) before the children are placed, so that a child the window
// resizes for it gets its new size in this same pass. Workaround (GTK
// 3.24.38): a resize queued while a container allocates is dropped, so a size
// asked for after the pass waited for the next resize and the page lagged one
// step behind the window. Can go once the toolkit keeps such a resize (the
// resize tests of the main window show when).
struct QmClientFixed {
    GtkFixed parent;
    HWND hwnd;
};
struct QmClientFixedClass {
    GtkFixedClass parentClass;
};
G_DEFINE_TYPE(QmClientFixed, qm_client_fixed, GTK_TYPE_FIXED)

static void qm_client_fixed_preferred_size(GtkWidget*, gint* minimum, gint* natural) {
    *minimum = 0;
    *natural = 0;
}
static void qm_client_fixed_size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    if (HWND hwnd = reinterpret_cast<QmClientFixed*>(widget)->hwnd)
        UiLib::detail::OnClientResized(hwnd, allocation->width, allocation->height);
    GTK_WIDGET_CLASS(qm_client_fixed_parent_class)->size_allocate(widget, allocation);
}
static void qm_client_fixed_class_init(QmClientFixedClass* klass) {
    GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
    widgetClass->get_preferred_width = qm_client_fixed_preferred_size;
    widgetClass->get_preferred_height = qm_client_fixed_preferred_size;
    widgetClass->size_allocate = qm_client_fixed_size_allocate;
}
static void qm_client_fixed_init(QmClientFixed* self) { self->hwnd = nullptr; }

namespace UiLib {
namespace detail {
namespace {

HWND HandleOf(gpointer data) { return static_cast<HWND>(data); }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // The window manager's close (its close button, Alt+F4) is the system
    // menu's Close: the window decides; by default it becomes WM_CLOSE.
    SendMessageW(HandleOf(data), WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
}

gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
    SendMessageW(HandleOf(data), WM_SETFOCUS, 0, 0);
    return FALSE;
}

gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer data) {
    SendMessageW(HandleOf(data), WM_KILLFOCUS, 0, 0);
    return FALSE;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    OnToplevelConfigured(HandleOf(data), event->x, event->y);
    return FALSE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    WndObject* window = FindWindowObject(HandleOf(data));
    if (!window || window->iconicByUnmap) return FALSE;
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        bool iconic = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        if (iconic != window->iconic) {
            window->iconic = iconic;
            SendMessageW(window->hwnd, WM_SIZE, iconic ? SIZE_MINIMIZED : SIZE_RESTORED,
                         MAKELPARAM(window->clientWidth, window->clientHeight));
        }
    }
    if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) {
        window->maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    }
    return FALSE;
}

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    PaintThroughMessage(HandleOf(data), cr);
    return FALSE;  // native children draw on top
}

// A popup menu holds the pointer and the keyboard while it shows (as the
// desktop's own menus do): a press anywhere else, or another program taking
// the grab, takes the focus from it.
void LosePopupFocus(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window || !window->popupGrabbed) return;
    window->popupGrabbed = false;
    gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
    SendMessageW(hwnd, WM_KILLFOCUS, 0, 0);
}

gboolean OnPopupPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    bool inside = event->window == gtk_widget_get_window(widget) && event->x >= 0 && event->y >= 0 &&
                  event->x < gtk_widget_get_allocated_width(widget) && event->y < gtk_widget_get_allocated_height(widget);
    if (inside) return FALSE;
    LosePopupFocus(HandleOf(data));
    return TRUE;
}

gboolean OnPopupGrabBroken(GtkWidget*, GdkEvent*, gpointer data) {
    LosePopupFocus(HandleOf(data));
    return FALSE;
}

void ShowForGrab(GdkSeat*, GdkWindow*, gpointer data) {
    if (WndObject* window = FindWindowObject(HandleOf(data))) {
        if (window->widget) gtk_widget_show(window->widget);
    }
}

// The token of a start that asked for the window, for the next activation.
std::string& PendingActivationToken() {
    static auto* token = new std::string();  // UI thread; lives until the process ends
    return *token;
}

}  // namespace

bool IsPopupMenu(const WndObject& window) {
    return (window.style & WS_POPUP) && (window.exStyle & WS_EX_TOOLWINDOW) && x11::DisplayIsX11();
}

void SetPendingActivationToken(const std::string& token) {
    UILIB_ASSERT_UI_THREAD();
    PendingActivationToken() = token;
}

void ActivateToplevel(WndObject& window) {
    UILIB_ASSERT_UI_THREAD();
    if (!window.widget) return;
    std::string token;
    token.swap(PendingActivationToken());
    if (!token.empty()) {
        GdkDisplay* display = gtk_widget_get_display(window.widget);
#ifdef GDK_WINDOWING_WAYLAND
        // Taken by the next focus request of any window: the compositor
        // activates the window with it.
        if (GDK_IS_WAYLAND_DISPLAY(display)) gdk_wayland_display_set_startup_notification_id(display, token.c_str());
#endif
        // On X11 the token carries the time of the user's request, which the
        // window manager compares with the focus it would take away.
        if (x11::DisplayIsX11()) gtk_window_set_startup_id(GTK_WINDOW(window.widget), token.c_str());
        (void)display;
    }
    gtk_window_present_with_time(GTK_WINDOW(window.widget), GDK_CURRENT_TIME);
}

void PaintThroughMessage(HWND hwnd, cairo_t* cr) {
    UILIB_ASSERT_UI_THREAD();
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    RECT paint;
    paint.left = static_cast<LONG>(x1);
    paint.top = static_cast<LONG>(y1);
    paint.right = static_cast<LONG>(x2 + 0.999);
    paint.bottom = static_cast<LONG>(y2 + 0.999);
    HDC__ context{cr};
    cairo_save(cr);
    DispatchToWindow(hwnd, WM_PAINT, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(&paint));
    cairo_restore(cr);
}

bool BuildToplevel(WndObject& window, int width, int height) {
    UILIB_ASSERT_UI_THREAD();
    // A popup menu on X11 is the toolkit's popup: no window manager frames,
    // places or tiles it. (Wayland gives popups only to a shown parent.)
    bool popupMenu = IsPopupMenu(window);
    GtkWidget* gtkWindow = gtk_window_new(popupMenu ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL);
    std::string cls = ToUtf8(window.className);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_window_set_wmclass(GTK_WINDOW(gtkWindow), cls.c_str(), cls.c_str());
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_set_title(GTK_WINDOW(gtkWindow), ToUtf8(window.title).c_str());
    // Skinned windows draw their own caption; a raw window with a caption gets
    // the window manager's frame.
    bool decorated = (window.style & WS_CAPTION) == WS_CAPTION && !(window.style & WS_POPUP) && !window.skinned;
    gtk_window_set_decorated(GTK_WINDOW(gtkWindow), decorated);
    gtk_window_set_resizable(GTK_WINDOW(gtkWindow), TRUE);
    if (popupMenu) {
        g_signal_connect(gtkWindow, "button-press-event", G_CALLBACK(OnPopupPress), window.hwnd);
        g_signal_connect(gtkWindow, "grab-broken-event", G_CALLBACK(OnPopupGrabBroken), window.hwnd);
    }
    if (window.exStyle & WS_EX_TOOLWINDOW) {
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(gtkWindow), TRUE);
        gtk_window_set_skip_pager_hint(GTK_WINDOW(gtkWindow), TRUE);
        gtk_window_set_type_hint(GTK_WINDOW(gtkWindow), GDK_WINDOW_TYPE_HINT_POPUP_MENU);
    }
    if (window.exStyle & WS_EX_TOPMOST) gtk_window_set_keep_above(GTK_WINDOW(gtkWindow), TRUE);
    if (WndObject* owner = FindWindowObject(window.parent)) {
        if (owner->kind == WndKind::TopLevel && owner->widget) {
            gtk_window_set_transient_for(GTK_WINDOW(gtkWindow), GTK_WINDOW(owner->widget));
        }
    }
    gtk_widget_add_events(gtkWindow, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                         GDK_SCROLL_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                         GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK |
                                         GDK_STRUCTURE_MASK);
    GtkWidget* fixed = GTK_WIDGET(g_object_new(qm_client_fixed_get_type(), nullptr));
    reinterpret_cast<QmClientFixed*>(fixed)->hwnd = window.hwnd;
    gtk_container_add(GTK_CONTAINER(gtkWindow), fixed);
    gtk_widget_show(fixed);
    gtk_window_resize(GTK_WINDOW(gtkWindow), width > 0 ? width : 1, height > 0 ? height : 1);
    gtk_window_move(GTK_WINDOW(gtkWindow), window.rect.left, window.rect.top);

    gpointer data = window.hwnd;
    g_signal_connect(gtkWindow, "delete-event", G_CALLBACK(OnDelete), data);
    g_signal_connect(gtkWindow, "focus-in-event", G_CALLBACK(OnFocusIn), data);
    g_signal_connect(gtkWindow, "focus-out-event", G_CALLBACK(OnFocusOut), data);
    g_signal_connect(gtkWindow, "configure-event", G_CALLBACK(OnConfigure), data);
    g_signal_connect(gtkWindow, "window-state-event", G_CALLBACK(OnWindowState), data);
    g_signal_connect(fixed, "draw", G_CALLBACK(OnDraw), data);

    window.widget = gtkWindow;
    window.fixed = fixed;
    gtk_widget_realize(gtkWindow);
    window.xid = x11::XidOfWidget(gtkWindow);  // 0 but on X11
    return gtk_widget_get_realized(gtkWindow);
}

void TearDownToplevel(WndObject& window) {
    UILIB_ASSERT_UI_THREAD();
    if (!window.widget) return;
    GtkWidget* gtkWindow = window.widget;
    GtkWidget* fixed = window.fixed;
    window.widget = nullptr;
    window.fixed = nullptr;
    g_signal_handlers_disconnect_by_data(gtkWindow, window.hwnd);
    if (fixed) {
        g_signal_handlers_disconnect_by_data(fixed, window.hwnd);
        reinterpret_cast<QmClientFixed*>(fixed)->hwnd = nullptr;
    }
    gtk_widget_destroy(gtkWindow);
}

void MapToplevel(WndObject& window, bool activate) {
    UILIB_ASSERT_UI_THREAD();
    if (!window.widget) return;
    if (IsPopupMenu(window) && activate) {
        if (window.popupGrabbed) return;
        GdkWindow* gdkWindow = gtk_widget_get_window(window.widget);
        GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(window.widget));
        GdkGrabStatus status = gdk_seat_grab(seat, gdkWindow, GDK_SEAT_CAPABILITY_ALL, FALSE, nullptr, nullptr,
                                             &ShowForGrab, window.hwnd);
        window.popupGrabbed = status == GDK_GRAB_SUCCESS;
        if (!window.popupGrabbed) gtk_widget_show(window.widget);
        return;
    }
    gtk_widget_show(window.widget);
    if (activate) ActivateToplevel(window);
}

void UnmapToplevel(WndObject& window) {
    UILIB_ASSERT_UI_THREAD();
    if (window.popupGrabbed) {
        window.popupGrabbed = false;
        gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
    }
    if (window.widget) gtk_widget_hide(window.widget);
}

// A Wayland compositor is its own window manager.
bool WindowManagerRunning() { return !x11::DisplayIsX11() || x11::WindowManagerRunning(); }

}  // namespace detail
}  // namespace UiLib

namespace UiLib {
namespace detail {
namespace {

bool FrameDragStart(HWND hwnd, GtkWindow** gtkWindow, POINT* cursor, guint32* time) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->kind != WndKind::TopLevel || !window->widget || !WindowManagerRunning()) return false;
    if (!GetCursorPos(cursor)) return false;
    *gtkWindow = GTK_WINDOW(window->widget);
    *time = CurrentInputTime();
    return true;
}

}  // namespace

void BeginMoveDrag(HWND hwnd) {
    GtkWindow* gtkWindow = nullptr;
    POINT cursor;
    guint32 time = 0;
    if (FrameDragStart(hwnd, &gtkWindow, &cursor, &time)) gtk_window_begin_move_drag(gtkWindow, 1, cursor.x, cursor.y, time);
}

void BeginResizeDrag(HWND hwnd, GdkWindowEdge edge) {
    GtkWindow* gtkWindow = nullptr;
    POINT cursor;
    guint32 time = 0;
    if (FrameDragStart(hwnd, &gtkWindow, &cursor, &time))
        gtk_window_begin_resize_drag(gtkWindow, edge, 1, cursor.x, cursor.y, time);
}

}  // namespace detail
}  // namespace UiLib
