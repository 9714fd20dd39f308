// The bare comparison for the client: a GTK window of the client's size with a
// WebKitGTK view loading the same page with the client's engine settings,
// nothing else.
//   bench_bare_window <url> <profile dir> [web extension dir]
// With a web extension (bench/cefhost/bare_extension.cpp) it answers the
// page's "_get_client_info" calls the way the client does: one user message
// that runs the page's JsHandleCallBack with a reply of the client's shape.
#include <webkit2/webkit2.h>

#include <string>

namespace {

const char kReply[] =
    "{\"result\":{\"cbfn\":\"_get_client_info\",\"data\":{\"boot_id\":\"0123456789ABCDEF0123456789ABCDEF\","
    "\"gid\":\"\",\"mac\":\"\",\"pc_name\":\"bench-host\",\"version\":\"1.0.9.1\"}}}\n";

gboolean OnMessage(WebKitWebView* view, WebKitUserMessage* message, gpointer) {
    if (std::string(webkit_user_message_get_name(message)) == "_get_client_info")
        webkit_web_view_send_message_to_page(view, webkit_user_message_new("JsHandleCallBack", g_variant_new_string(kReply)),
                                             nullptr, nullptr, nullptr);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    gtk_init(&argc, &argv);
    WebKitWebsiteDataManager* data =
        webkit_website_data_manager_new("base-data-directory", argv[2], "base-cache-directory", argv[2], nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    if (argc > 3) webkit_web_context_set_web_extensions_directory(context, argv[3]);
    // The client's engine settings.
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    const char* const languages[] = {"zh-CN", "zh", nullptr};
    webkit_web_context_set_preferred_languages(context, languages);
    std::string cookies = std::string(argv[2]) + "/Cookies";
    webkit_cookie_manager_set_persistent_storage(webkit_web_context_get_cookie_manager(context), cookies.c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    webkit_settings_set_enable_html5_local_storage(settings, TRUE);
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1280, 800);
    GtkWidget* view =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings, nullptr));
    g_object_unref(settings);
    g_signal_connect(view, "user-message-received", G_CALLBACK(&OnMessage), nullptr);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_main();
    return 0;
}
