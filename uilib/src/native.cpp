// Window handles for native child widgets and the GTK objects behind windows.
#include "uilib/native.h"

#include "geometry.h"
#include "message_queue.h"
#include "runtime.h"
#include "window_procs.h"
#include "window_registry.h"

namespace UiLib {
namespace Native {

using namespace detail;

namespace {

void OnWidgetDestroyed(GtkWidget*, gpointer data) {
    HWND hwnd = static_cast<HWND>(data);
    WndObject* window = FindWindowObject(hwnd);
    if (!window || window->destroying) return;
    window->widget = nullptr;  // already going: DestroyWindow must not touch it
    DestroyWindow(hwnd);
}

void OnWidgetAllocated(GtkWidget*, GdkRectangle*, gpointer data) { OnChildAllocated(static_cast<HWND>(data)); }

void OnWidgetVisibility(GtkWidget* widget, gpointer data) {
    if (WndObject* window = FindWindowObject(static_cast<HWND>(data))) {
        window->visible = gtk_widget_get_visible(widget);
    }
}

}  // namespace

GtkWidget* GetContainer(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    return window && window->kind == WndKind::TopLevel ? window->fixed : nullptr;
}

GtkWidget* GetToplevel(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = ToplevelObjectOf(hwnd);
    return window ? window->widget : nullptr;
}

HWND RegisterChildWidget(GtkWidget* widget, HWND parent) {
    UILIB_ASSERT_UI_THREAD();
    if (!widget || !IsLocalWindow(parent)) return nullptr;
    if (WndObject* existing = FindWindowByWidget(widget)) return existing->hwnd;
    auto object = std::make_unique<WndObject>();
    object->kind = WndKind::Child;
    object->className = L"NativeChild";
    object->style = WS_CHILD;
    object->parent = parent;
    object->widget = widget;
    object->ownsWidget = false;
    object->proc = &DefWindowProcW;
    object->visible = gtk_widget_get_visible(widget);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    int width = 0, height = 0;
    gtk_widget_get_size_request(widget, &width, &height);
    GtkWidget* container = gtk_widget_get_parent(widget);
    int x = 0, y = 0;
    if (container && GTK_IS_FIXED(container)) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_INT);
        gtk_container_child_get_property(GTK_CONTAINER(container), widget, "x", &value);
        x = g_value_get_int(&value);
        gtk_container_child_get_property(GTK_CONTAINER(container), widget, "y", &value);
        y = g_value_get_int(&value);
        g_value_unset(&value);
    }
    object->rect.left = x;
    object->rect.top = y;
    object->rect.right = x + std::max(width, 0);
    object->rect.bottom = y + std::max(height, 0);
    object->clientWidth = std::max(width, 0);
    object->clientHeight = std::max(height, 0);
    HWND hwnd = RegisterWindow(std::move(object));
    g_signal_connect(widget, "destroy", G_CALLBACK(OnWidgetDestroyed), hwnd);
    g_signal_connect(widget, "size-allocate", G_CALLBACK(OnWidgetAllocated), hwnd);
    g_signal_connect(widget, "show", G_CALLBACK(OnWidgetVisibility), hwnd);
    g_signal_connect(widget, "hide", G_CALLBACK(OnWidgetVisibility), hwnd);
    return hwnd;
}

HWND FromWidget(GtkWidget* widget) {
    WndObject* window = FindWindowByWidget(widget);
    return window ? window->hwnd : nullptr;
}

GtkWidget* ToWidget(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    return window ? window->widget : nullptr;
}

}  // namespace Native
}  // namespace UiLib
