#include "event_router.h"

#include <gtk/gtk.h>

#include "accessible_controls.h"
#include "keyboard.h"
#include "mouse.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

bool g_installed = false;

// Workaround (WebKitGTK 2.50.6 on GTK 3.24.38): GDK follows the second
// (third) press of a quick series with a double (triple) press event for the
// same window, queued right behind it. The web view counts clicks itself,
// looks ahead in the queue and drops a press that such an event follows: a
// press it were handed now, through the window's messages (a windowless
// browser), would be lost, and the page saw a single click where the user
// made a double one. The window therefore hears of such a press only once
// GDK's own event for it is being handled, when the queue no longer holds it.
// GTK itself gets every event in its usual order. Can go once the engine
// stops looking ahead in GDK's queue (the double-click tests show when).
GdkEvent* g_heldPress = nullptr;

bool MultiPressFollows(const GdkEvent* press) {
    GdkEvent* next = gdk_event_peek();
    if (!next) return false;
    bool follows = (next->type == GDK_2BUTTON_PRESS || next->type == GDK_3BUTTON_PRESS) &&
                   next->button.window == press->button.window && next->button.button == press->button.button;
    gdk_event_free(next);
    return follows;
}

void RouteHeldPress() {
    if (!g_heldPress) return;
    GdkEvent* held = g_heldPress;
    g_heldPress = nullptr;
    RouteMouseEvent(held);
    gdk_event_free(held);
}

void RouteKey(GdkEvent* event) {
    TrackKeyEvent(event->key);
    gpointer data = nullptr;
    if (event->key.window) gdk_window_get_user_data(event->key.window, &data);
    if (!data || !GTK_IS_WIDGET(data)) return;
    // Keys reach the top-level window; its focused child (a browser view) gets
    // them from GTK afterwards as usual.
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(data));
    WndObject* window = FindWindowByWidget(toplevel);
    if (window && window->kind == WndKind::TopLevel) DeliverKeyEvent(window->hwnd, event->key);
}

// A press anywhere in a window puts the keyboard back on what the pointer
// chose (a windowless page has no widget to take the focus itself).
void ReleaseFocusOnPress(const GdkEvent* event) {
    gpointer data = nullptr;
    if (event->button.window) gdk_window_get_user_data(event->button.window, &data);
    if (data && GTK_IS_WIDGET(data)) ReleaseControlFocus(gtk_widget_get_toplevel(GTK_WIDGET(data)));
}

void Route(GdkEvent* event, gpointer) {
    switch (event->type) {
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
        RouteKey(event);
        break;
    case GDK_BUTTON_PRESS:
        ReleaseFocusOnPress(event);
        RouteHeldPress();
        if (MultiPressFollows(event)) {
            g_heldPress = gdk_event_copy(event);
        } else if (!RouteMouseEvent(event)) {
            return;
        }
        break;
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
        RouteHeldPress();
        break;
    case GDK_BUTTON_RELEASE:
    case GDK_MOTION_NOTIFY:
    case GDK_SCROLL:
        RouteHeldPress();
        if (!RouteMouseEvent(event)) return;
        break;
    case GDK_ENTER_NOTIFY:
    case GDK_LEAVE_NOTIFY:
        RouteCrossingEvent(event);
        break;
    default:
        break;
    }
    gtk_main_do_event(event);
}

}  // namespace

void InstallEventRouter() {
    if (g_installed) return;
    g_installed = true;
    gdk_event_handler_set(Route, nullptr, nullptr);
}

}  // namespace detail
}  // namespace UiLib
