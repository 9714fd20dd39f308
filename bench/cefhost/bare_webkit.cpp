// The bare comparison: a plain WebKitGTK program doing what the browser host
// does, without it.
//   cefhost_bench_bare load <url> <profile dir>     → "load_ms=… rss_kb=…"
//   cefhost_bench_bare bridge <url> <extension dir> → "p50_ms=… p99_ms=… sync_per_s=…"
#include <webkit2/webkit2.h>

#include <cstring>

#include "bench_common.h"

namespace {

struct State {
    bool finished = false;
    std::vector<double> stamps;
    bool done = false;
    std::string syncRate;
    WebKitWebView* view = nullptr;
};

void OnLoad(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<State*>(data)->finished = true;
}

gboolean OnMessage(WebKitWebView* view, WebKitUserMessage* message, gpointer data) {
    auto* s = static_cast<State*>(data);
    std::string name = webkit_user_message_get_name(message);
    GVariant* p = webkit_user_message_get_parameters(message);
    const char* text = p && g_variant_is_of_type(p, G_VARIANT_TYPE_STRING) ? g_variant_get_string(p, nullptr) : "";
    if (name == "_ping") {
        s->stamps.push_back(kxbench::NowMs());
        webkit_web_view_send_message_to_page(view, webkit_user_message_new("JsHandleCallBack",
                                                                           g_variant_new_string(text)),
                                             nullptr, nullptr, nullptr);
    } else if (name == "_done") {
        s->done = true;
    } else if (name == "_sync") {
        s->syncRate = text;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    gtk_init(&argc, &argv);
    std::string mode = argv[1], url = argv[2], dir = argv[3];
    State state;
    double t0 = kxbench::NowMs();
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
        "base-data-directory", mode == "load" ? dir.c_str() : "/tmp/kxbench-bare-bridge", "base-cache-directory",
        mode == "load" ? dir.c_str() : "/tmp/kxbench-bare-bridge", nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    if (mode == "bridge") webkit_web_context_set_web_extensions_directory(context, dir.c_str());
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 480);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    g_signal_connect(view, "load-changed", G_CALLBACK(&OnLoad), &state);
    g_signal_connect(view, "user-message-received", G_CALLBACK(&OnMessage), &state);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url.c_str());
    if (mode == "load") {
        kxbench::PumpUntil([&] { return state.finished; }, 30000);
        double ms = kxbench::NowMs() - t0;
        kxbench::PumpUntil([] { return false; }, 300);  // settle, as the host side does
        std::printf("load_ms=%.1f rss_kb=%ld pss_kb=%ld (%s)\n", ms, qmbench::MeasureTree(getpid()).rssKb,
                    qmbench::MeasureTree(getpid()).pssKb,
                    qmbench::MeasureTree(getpid()).Breakdown().c_str());
    } else {
        kxbench::PumpUntil([&] { return state.done; }, 60000);
        std::vector<double> rt;
        for (size_t i = 101; i < state.stamps.size(); ++i) rt.push_back(state.stamps[i] - state.stamps[i - 1]);
        std::string sync = argc > 4 ? argv[4] : "";
        if (!sync.empty()) {
            webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), sync.c_str());
            kxbench::PumpUntil([&] { return !state.syncRate.empty(); }, 60000);
        }
        std::printf("p50_ms=%.3f p99_ms=%.3f n=%zu sync_per_s=%s\n", kxbench::Percentile(rt, 0.5),
                    kxbench::Percentile(rt, 0.99), rt.size(), state.syncRate.c_str());
    }
    std::fflush(stdout);
    gtk_widget_destroy(window);
    g_object_unref(context);
    g_object_unref(data);
    return 0;
}
