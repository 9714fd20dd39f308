// Keyboard focus between top-level windows and native children.
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_registry.h"

namespace UiLib {

using namespace detail;

HWND GetFocus() {
    return OnUiThread([&]() -> HWND {
        for (HWND hwnd : AllWindows()) {
            WndObject* window = FindWindowObject(hwnd);
            if (!window || window->kind != WndKind::TopLevel || !window->widget) continue;
            if (!gtk_window_has_toplevel_focus(GTK_WINDOW(window->widget))) continue;
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window->widget));
            HWND inner = focus ? FindHandleOfWidget(focus) : nullptr;
            return inner ? inner : hwnd;
        }
        return nullptr;
    });
}

HWND SetFocus(HWND hwnd) {
    return OnUiThread([&]() -> HWND {
        HWND previous = GetFocus();
        WndObject* window = FindWindowObject(hwnd);
        if (!window || !window->widget) return previous;
        if (window->kind == WndKind::Child) {
            gtk_widget_set_can_focus(window->widget, TRUE);
            gtk_widget_grab_focus(window->widget);
            window = FindWindowObject(window->parent);
        }
        if (window && window->widget && window->visible && !window->iconic) {
            if (GdkWindow* gdkWindow = gtk_widget_get_window(window->widget)) {
                gdk_window_focus(gdkWindow, GDK_CURRENT_TIME);
            }
        }
        return previous;
    });
}

}  // namespace UiLib
