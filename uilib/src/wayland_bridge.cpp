#include "wayland_bridge.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include "runtime.h"
#include <string>

#include "xdg-activation-v1-client-protocol.h"

namespace UiLib {
namespace detail {
namespace wayland {
namespace {

#ifdef GDK_WINDOWING_WAYLAND
struct Globals {
    wl_display* display = nullptr;
    xdg_activation_v1* activation = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::string(interface) == xdg_activation_v1_interface.name && !globals->activation)
        globals->activation =
            static_cast<xdg_activation_v1*>(wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

// The compositor's activation, bound once on the toolkit's connection. The
// registry is read on a queue of its own, so the toolkit's events stay where
// they are; what is bound afterwards lives on the toolkit's queue.
const Globals& Bound(GdkDisplay* gdkDisplay) {
    static Globals* globals = nullptr;  // lives until the process ends
    if (globals) return *globals;
    globals = new Globals();
    globals->display = gdk_wayland_display_get_wl_display(gdkDisplay);
    wl_event_queue* queue = wl_display_create_queue(globals->display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(globals->display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_registry_add_listener(registry, &kRegistry, globals);
    wl_display_roundtrip_queue(globals->display, queue);
    if (globals->activation) wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(globals->activation), nullptr);
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(wrapper);
    wl_event_queue_destroy(queue);
    if (!globals->activation) Log("the compositor offers no activation: no attention requests");
    return *globals;
}

struct Pending {
    xdg_activation_v1* activation;
    GtkWidget* toplevel;  // referenced while the token is on its way
};

// The token came (from the toolkit's dispatch): the surface asks with it.
void OnToken(void* data, xdg_activation_token_v1* token, const char* value) {
    auto* pending = static_cast<Pending*>(data);
    GdkWindow* window = gtk_widget_get_window(pending->toplevel);
    if (window && gtk_widget_get_mapped(pending->toplevel))
        xdg_activation_v1_activate(pending->activation, value, gdk_wayland_window_get_wl_surface(window));
    xdg_activation_token_v1_destroy(token);
    g_object_unref(pending->toplevel);
    delete pending;
}
const xdg_activation_token_v1_listener kToken = {OnToken};
#endif

}  // namespace

bool DisplayIsWayland() {
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = gdk_display_get_default();
    return display && GDK_IS_WAYLAND_DISPLAY(display);
#else
    return false;
#endif
}

void RequestAttention(GtkWidget* toplevel) {
    UILIB_ASSERT_UI_THREAD();
#ifdef GDK_WINDOWING_WAYLAND
    if (!DisplayIsWayland() || !toplevel || !gtk_widget_get_mapped(toplevel)) return;
    GdkWindow* window = gtk_widget_get_window(toplevel);
    if (!window) return;
    const Globals& globals = Bound(gtk_widget_get_display(toplevel));
    if (!globals.activation) return;
    // No serial of the user's input: the compositor marks the window instead
    // of handing it the focus.
    xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(globals.activation);
    xdg_activation_token_v1_add_listener(token, &kToken,
                                         new Pending{globals.activation, GTK_WIDGET(g_object_ref(toplevel))});
    xdg_activation_token_v1_set_surface(token, gdk_wayland_window_get_wl_surface(window));
    xdg_activation_token_v1_commit(token);
    wl_display_flush(globals.display);
#else
    (void)toplevel;
#endif
}

}  // namespace wayland
}  // namespace detail
}  // namespace UiLib
