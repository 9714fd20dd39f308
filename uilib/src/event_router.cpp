#include "event_router.h"

#include <gtk/gtk.h>

#include "keyboard.h"
#include "mouse.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

bool g_installed = false;

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

void Route(GdkEvent* event, gpointer) {
    switch (event->type) {
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
        RouteKey(event);
        break;
    case GDK_BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_MOTION_NOTIFY:
    case GDK_SCROLL:
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
