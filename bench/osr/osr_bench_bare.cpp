// The bare WebKitGTK baseline of the off-screen benchmark: a web view in an
// off-screen window whose repaints are copied into an ARGB32 image, on the
// same animated page. Prints "fps=… cpu_ms_per_frame=…". Needs DISPLAY.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/osr/cpu_tree.h"

namespace {

struct Grabber {
    GtkWidget* window = nullptr;
    cairo_region_t* pending = nullptr;
    guint idle = 0;
    cairo_surface_t* image = nullptr;
    long frames = 0;
};

gboolean Grab(gpointer data) {
    auto* g = static_cast<Grabber*>(data);
    g->idle = 0;
    cairo_surface_t* surface = gtk_offscreen_window_get_surface(GTK_OFFSCREEN_WINDOW(g->window));
    if (surface && g->pending) {
        cairo_t* cr = cairo_create(g->image);
        gdk_cairo_region(cr, g->pending);
        cairo_clip(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, surface, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(g->image);
        ++g->frames;
    }
    if (g->pending) cairo_region_destroy(g->pending);
    g->pending = nullptr;
    return G_SOURCE_REMOVE;
}

gboolean OnDamage(GtkWidget*, GdkEventExpose* event, gpointer data) {
    auto* g = static_cast<Grabber*>(data);
    if (!g->pending) g->pending = cairo_region_create();
    cairo_region_union(g->pending, event->region);
    if (!g->idle) g->idle = g_idle_add_full(GDK_PRIORITY_REDRAW + 10, &Grab, g, nullptr);
    return FALSE;
}

double Now() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void PumpFor(double ms) {
    double end = Now() + ms;
    while (Now() < end) g_main_context_iteration(nullptr, TRUE);
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    std::string page = std::string("/tmp/osr_bench_bare_") + std::to_string(getpid()) + ".html";
    if (FILE* f = std::fopen(page.c_str(), "w")) {
        std::fputs(qmbench::CanvasPage(), f);
        std::fclose(f);
    }
    Grabber g;
    g.image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1280, 720);
    g.window = gtk_offscreen_window_new();
    gtk_window_set_default_size(GTK_WINDOW(g.window), 1280, 720);
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings, nullptr));
    gtk_widget_set_size_request(view, 1280, 720);
    gtk_container_add(GTK_CONTAINER(g.window), view);
    g_signal_connect(g.window, "damage-event", G_CALLBACK(&OnDamage), &g);
    gtk_widget_show_all(g.window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), ("file://" + page).c_str());
    PumpFor(2000);  // load and warm up
    long frames0 = g.frames;
    double cpu0 = qmbench::TreeCpuMs(getpid()), t0 = Now();
    PumpFor(5000);
    double seconds = (Now() - t0) / 1000.0;
    long frames = g.frames - frames0;
    double cpu = qmbench::TreeCpuMs(getpid()) - cpu0;
    std::printf("fps=%.2f cpu_ms_per_frame=%.3f frames=%ld\n", frames / seconds, frames ? cpu / frames : 0.0, frames);
    std::remove(page.c_str());
    return 0;
}
