// Figures of the browser host, each next to a bare WebKitGTK program run in
// the same session:
//   1. CreateBrowser to the first load end of a small local page, and the
//      resident memory of all processes once it has loaded;
//   2. the bridge round trip page → KXVantorAsyn.VantorCommunicateAsyn →
//      IQNWebWnd::Dispatch → SendJsCommand("JsHandleCallBack") → page,
//      2,000 sequential calls;
//   3. synchronous page calls per second (KXVantorSyn.VantorCommunicateSync).
// Needs an X display (DISPLAY).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>

#include "bench/figures.h"
#include "bench_common.h"
#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/bridge/web_wnd_manager.h"
#include "platform/text.h"
#include "uilib/win32.h"

namespace {

using kxbench::NowMs;

struct LoadWatch {
    bool loaded = false;
    bool OnEvent(int code, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int) {
        if (code == CEF3_EVENT_LOAD_END) loaded = true;
        return true;
    }
};

// The core module's web window, reduced to what the round trip needs.
class BenchWnd : public QNInterface::WND::IQNWebWnd {
public:
    int id = 0;
    std::vector<double> stamps;
    bool done = false;
    std::string syncRate;
    int GetBrowserId() override { return id; }
    bool PreDispatch(const QNInterface::QNCEF::CEFRequest&) override { return true; }
    bool RegisterCaller(const std::string&, const std::string&, QNInterface::QNCEF::CEFCaller) override { return true; }
    void SetWndString(const std::wstring&) override {}
    void Dispatch(const QNInterface::QNCEF::CEFRequest& request) override {
        if (request.name == "_ping") {
            stamps.push_back(NowMs());
            std::string json = "{\"result\":{\"cbfn\":\"_ping\",\"data\":" + request.data + "}}\n";
            std::vector<VARIANT> args{platform::MakeBstrVariant(platform::Utf8ToWide(json))};
            CCEF3Manager::SendJsCommand("JsHandleCallBack", args, id);
            VariantClear(&args[0]);
        } else if (request.name == "_done") {
            done = true;
        } else if (request.name == "_sync") {
            syncRate = request.data;
        }
    }
};

LRESULT HostProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return m == WM_CLOSE ? 0 : UiLib::DefWindowProcW(h, m, w, l);
}

HWND HostWindow() {
    static bool registered = false;
    if (!registered) {
        UiLib::WNDCLASSW wc;
        wc.lpfnWndProc = &HostProc;
        wc.lpszClassName = L"KXCEF2BenchHost";
        UiLib::RegisterClassW(&wc);
        registered = true;
    }
    HWND h = UiLib::CreateWindowExW(0, L"KXCEF2BenchHost", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                    nullptr, nullptr, nullptr);
    UiLib::ShowWindow(h, SW_SHOW);
    return h;
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
    kxbench::PumpUntil([&] { return finished; }, 30000);
    double ms = NowMs() - t0;
    gtk_widget_destroy(window);
    g_object_unref(context);
    g_object_unref(data);
    return ms;
}

// The bench's pages are files, which have no origin of their own: their calls
// are taken as the front-end's.
class BenchWndManager : public QNInterface::QNCEF::QNWebWndManager {
public:
    static constexpr const char* kPageOrigin = "file://bench";
    bool OnAsynJsEventFrom(int browserId, const std::string& name, std::vector<VARIANT>& args,
                           const std::string&) override {
        return QNWebWndManager::OnAsynJsEventFrom(browserId, name, args, kPageOrigin);
    }
};

void WaitIdle() {
    kxbench::PumpUntil([] { return KXCEF2_LiveBrowserCountForTesting() == 0 && KXCEF2_LiveProfileCountForTesting() == 0; },
                       20000);
    kxbench::PumpUntil([] { return kxbench::ChildCount(getpid()) == 0; }, 10000);
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("DISPLAY")) {
        std::printf("cefhost_bench: no DISPLAY (run it under an X server, e.g. xvfb-run)\n");
        return 0;
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    setenv("KXCEF2_WEBEXT_DIR", KXBENCH_RENDER_EXT, 1);
    setenv("KXCEF2_LOG_SEVERITY", "warning", 0);
    static QNInterface::QNCEF::CQNCefHandler processHandler;
    static BenchWndManager manager;
    manager.AllowOrigin(BenchWndManager::kPageOrigin);
    CCEF3Manager::SetProcessHandler(&processHandler);
    CCEF3Manager::SetJSCallBackHandler(&manager);
    if (CCEF3Manager::CEFInit(nullptr) >= 0) return 1;

    char tmpl[] = "/tmp/kxbench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string page = kxbench::WritePage(
        dir, "small.html", "<html><head><title>small</title></head><body><p>A small local page.</p></body></html>");

    // 1. Creation to load end, and memory.
    std::vector<double> ours, bare, bareInProcess, oursRss, bareRss, oursPss, barePss;
    HWND host = HostWindow();
    for (int r = 0; r < rounds; ++r) {
        std::string b = qmbench::RunCapture(std::string(KXBENCH_BARE) + " load " + page + " " + dir + "/bare-profile");
        bare.push_back(qmbench::Field(b, "load_ms"));
        bareRss.push_back(qmbench::Field(b, "rss_kb") / 1024.0);
        barePss.push_back(qmbench::Field(b, "pss_kb") / 1024.0);
        if (r == rounds - 1) std::printf("bare program: %s", b.c_str());
        bareInProcess.push_back(BareLoadInProcess(page, dir + "/bare-profile"));
        WaitIdle();

        LoadWatch watch;
        RECT rect{0, 0, 640, 480};
        double t0 = NowMs();
        CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, rect, page, false, false, 0);
        h->SetBrowserEventCallBack(CCEF3BrowserDelegate<LoadWatch>(&watch, &LoadWatch::OnEvent));
        kxbench::PumpUntil([&] { return watch.loaded; }, 30000);
        ours.push_back(NowMs() - t0);
        kxbench::PumpUntil([] { return false; }, 300);
        oursRss.push_back(qmbench::MeasureTree(getpid()).rssKb / 1024.0);
        oursPss.push_back(qmbench::MeasureTree(getpid()).pssKb / 1024.0);
        if (r == rounds - 1) std::printf("KXCEF2 processes (MB): %s\n", qmbench::MeasureTree(getpid()).Breakdown().c_str());
        h->GetBrowser()->GetHost()->CloseBrowser(true);
        h = nullptr;
        WaitIdle();
    }
    std::printf("create-to-load-end (ms, median of %d): KXCEF2 %.1f   bare WebKitGTK in this process %.1f"
                "   ratio %.2f   (bare program of its own %.1f)\n",
                rounds, kxbench::Percentile(ours, 0.5), kxbench::Percentile(bareInProcess, 0.5),
                kxbench::Percentile(ours, 0.5) / kxbench::Percentile(bareInProcess, 0.5),
                kxbench::Percentile(bare, 0.5));
    qmbench::Figure("create_to_load_ms_client", kxbench::Percentile(ours, 0.5));
    qmbench::Figure("create_to_load_ms_bare", kxbench::Percentile(bareInProcess, 0.5));
    std::printf("RSS of all processes after load (MB, median): KXCEF2 %.0f   bare WebKitGTK %.0f\n",
                kxbench::Percentile(oursRss, 0.5), kxbench::Percentile(bareRss, 0.5));
    std::printf("PSS of all processes after load (MB, median): KXCEF2 %.0f   bare WebKitGTK %.0f\n",
                kxbench::Percentile(oursPss, 0.5), kxbench::Percentile(barePss, 0.5));

    // 2. and 3. The bridge.
    std::string rtPage = kxbench::WritePage(dir, "rt.html", kxbench::RoundTripPage("KXVantorAsyn.VantorCommunicateAsyn"));
    std::string syncPage = kxbench::WritePage(
        dir, "sync.html", kxbench::SyncPage("KXVantorSyn.VantorCommunicateSync", "KXVantorAsyn.VantorCommunicateAsyn"));
    BenchWnd wnd;
    manager.AddWebWnd(&wnd);
    LoadWatch watch;
    RECT rect{0, 0, 640, 480};
    CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, rect, rtPage, false, false, 0);
    h->SetBrowserEventCallBack(CCEF3BrowserDelegate<LoadWatch>(&watch, &LoadWatch::OnEvent));
    kxbench::PumpUntil([&] { return h->GetBrowserId() != 0; }, 30000);
    wnd.id = h->GetBrowserId();
    kxbench::PumpUntil([&] { return wnd.done; }, 60000);
    std::vector<double> rt;
    for (size_t i = 101; i < wnd.stamps.size(); ++i) rt.push_back(wnd.stamps[i] - wnd.stamps[i - 1]);
    h->NavigateTo(syncPage);
    kxbench::PumpUntil([&] { return !wnd.syncRate.empty(); }, 60000);
    manager.RemoveWebWnd(&wnd);
    h->GetBrowser()->GetHost()->CloseBrowser(true);
    h = nullptr;
    WaitIdle();

    std::string bareRt = kxbench::WritePage(dir, "bare-rt.html", kxbench::RoundTripPage("bareCall"));
    std::string bareSync = kxbench::WritePage(dir, "bare-sync.html", kxbench::SyncPage("bareSync", "bareCall"));
    std::string b = qmbench::RunCapture(std::string(KXBENCH_BARE) + " bridge " + bareRt + " " + KXBENCH_BARE_EXT + " " + bareSync);
    double p50 = kxbench::Percentile(rt, 0.5), p99 = kxbench::Percentile(rt, 0.99);
    std::printf("bridge round trip (ms, %zu calls): KXCEF2 p50 %.3f p99 %.3f   bare WebKitGTK p50 %.3f p99 %.3f"
                "   ratio p50 %.2f\n",
                rt.size(), p50, p99, qmbench::Field(b, "p50_ms"), qmbench::Field(b, "p99_ms"), p50 / qmbench::Field(b, "p50_ms"));
    std::printf("synchronous page calls per second: KXCEF2 %s   bare WebKitGTK %.0f\n", wnd.syncRate.c_str(),
                qmbench::Field(b, "sync_per_s"));
    qmbench::Figure("bridge_rt_p50_ms_client", p50);
    qmbench::Figure("bridge_rt_p99_ms_client", p99);
    qmbench::Figure("bridge_rt_p50_ms_bare", qmbench::Field(b, "p50_ms"));
    qmbench::Figure("bridge_rt_p99_ms_bare", qmbench::Field(b, "p99_ms"));
    qmbench::Figure("sync_calls_per_s_client", std::atof(wnd.syncRate.c_str()));
    qmbench::Figure("sync_calls_per_s_bare", qmbench::Field(b, "sync_per_s"));

    CCEF3Manager::CEFShutDown();
    qmbench::RunCapture("rm -rf " + dir);
    return 0;
}
