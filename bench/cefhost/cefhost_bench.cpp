// Figures of the browser host, each next to bare WebKitGTK doing the same in
// this process, in interleaved pairs (the order alternates from pair to pair):
// CreateBrowser to the first load end of a small local page, and the memory
// of all processes once it has loaded. (The page bridge is measured through
// the whole client: bench/client/bridge_bench.cpp.)
//   cefhost_bench [pairs]      (default 5)
// Needs an X display (DISPLAY).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>

#include "bench/figures.h"
#include "bench_common.h"
#include "bench_host.h"
#include "host_window.h"
#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "platform/text.h"
#include "uilib/win32.h"

namespace {

using qmbench::NowMs;

struct LoadWatch {
    bool loaded = false;
    bool OnEvent(int code, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int) {
        if (code == CEF3_EVENT_LOAD_END) loaded = true;
        return true;
    }
};

HWND HostWindow() {
    return qmbench::ShowHostWindow(L"KXCEF2BenchHost", &qmbench::KeepOpenProc, WS_OVERLAPPEDWINDOW, 640, 480);
}

// The same load with WebKitGTK alone, in this process: a fresh web context
// (network and web process), a window, the page, its load finished.
double BareLoadInProcess(const std::string& page, const std::string& profile) {
    bool finished = false;
    double t0 = NowMs();
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
        "base-data-directory", profile.c_str(), "base-cache-directory", profile.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 480);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer p) {
                         if (e == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(p) = true;
                     }),
                     &finished);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), page.c_str());
    bool loaded = qmbench::PumpUntil([&] { return finished; }, 30000);
    double ms = loaded ? NowMs() - t0 : -1;
    gtk_widget_destroy(window);
    g_object_unref(context);
    g_object_unref(data);
    return ms;
}

void WaitIdle() {
    qmbench::PumpUntil([] { return KXCEF2_LiveBrowserCountForTesting() == 0 && KXCEF2_LiveProfileCountForTesting() == 0; },
                       20000);
    qmbench::PumpUntil([] { return qmbench::ChildCount(getpid()) == 0; }, 10000);
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("DISPLAY")) {
        std::printf("cefhost_bench: no DISPLAY (run it under an X server, e.g. xvfb-run)\n");
        return 1;
    }
    int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!qmbench::StartBridgeHost("warning")) return 1;

    char tmpl[] = "/tmp/kxbench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string page = qmbench::WritePage(
        dir, "small.html", "<html><head><title>small</title></head><body><p>A small local page.</p></body></html>");

    std::vector<double> ours, bare, oursRss, oursPss;
    HWND host = HostWindow();
    for (int i = 0; i < pairs; ++i) {
        for (int k = 0; k < 2; ++k) {
            if ((k == 0) != (i % 2 == 0)) {
                bare.push_back(BareLoadInProcess(page, dir + "/bare-profile"));
                WaitIdle();
                continue;
            }
            LoadWatch watch;
            RECT rect{0, 0, 640, 480};
            double t0 = NowMs();
            CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, rect, page, false, false, 0);
            h->SetBrowserEventCallBack(CCEF3BrowserDelegate<LoadWatch>(&watch, &LoadWatch::OnEvent));
            bool loaded = qmbench::PumpUntil([&] { return watch.loaded; }, 30000);
            ours.push_back(loaded ? NowMs() - t0 : -1);
            qmbench::PumpUntil([] { return false; }, 300);
            qmbench::TreeUsage mem = qmbench::MeasureTree(getpid());
            oursRss.push_back(mem.rssKb / 1024.0);
            oursPss.push_back(mem.pssKb / 1024.0);
            if (i == pairs - 1) std::printf("KXCEF2 processes (RSS/PSS MB): %s\n", mem.Breakdown().c_str());
            h->GetBrowser()->GetHost()->CloseBrowser(true);
            h = nullptr;
            WaitIdle();
        }
    }
    qmbench::PrintPairs("create-to-load-end (ms), KXCEF2 vs bare WebKitGTK in this process", ours, bare, "%.1f");
    std::printf("memory of all processes after load (MB): RSS %s   PSS %s\n",
                qmbench::Describe(qmbench::Summarise(oursRss), "%.0f").c_str(),
                qmbench::Describe(qmbench::Summarise(oursPss), "%.0f").c_str());
    bool ok = qmbench::Pairs("create_to_load_ms_client", "create_to_load_ms_bare", ours, bare);
    for (double v : ours) ok = ok && v >= 0;
    for (double v : bare) ok = ok && v >= 0;

    CCEF3Manager::CEFShutDown();
    qmbench::RunCapture("rm -rf " + dir);
    return ok ? 0 : 1;
}
