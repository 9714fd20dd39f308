// The bare comparison for the client: a GTK window of the client's size with a
// WebKitGTK view loading the same page, nothing else.
//   bench_bare_window <url> <profile dir>
#include <webkit2/webkit2.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    gtk_init(&argc, &argv);
    WebKitWebsiteDataManager* data =
        webkit_website_data_manager_new("base-data-directory", argv[2], "base-cache-directory", argv[2], nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1280, 800);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_main();
    return 0;
}
