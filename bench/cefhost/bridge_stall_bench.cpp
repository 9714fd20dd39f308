// The UI thread's longest stall while a page sends the largest calls the
// bridge lets it send (16,384 values, 256 KiB of text) and calls beyond that (a
// million-element array, refused in the page's web process). The calls go
// the whole way: decoded in the UI process, converted, checked by the
// launcher's bridge object and dispatched to a web window whose handler reads
// its arguments as the command handlers do. A 1 ms heartbeat on the UI
// thread's main loop records the longest gap between its beats while the
// calls are handled, in the thread's own processor time (its work) and in
// time (what a user would see on this machine, its load included); the same
// heartbeat with the page idle gives the machine's own noise. Goal: under
// 50 ms. Needs an X display (DISPLAY).
#include <gtk/gtk.h>
#include <stdlib.h>

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "bench/figures.h"
#include "bench_common.h"
#include "bench_host.h"
#include "host_window.h"
#include "core/services/reply/request_param.h"
#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "launcher/bridge/web_wnd_manager.h"
#include "tests/support/http_server.h"
#include "uilib/win32.h"

namespace {

using qmbench::NowMs;

double ThreadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Beats every millisecond on the UI thread. Since Reset(): the longest gap
// between two beats in time, and in the UI thread's own processor time (the
// work it did without coming back to its loop, whatever else the machine ran).
class Heartbeat {
public:
    Heartbeat() { source_ = g_timeout_add(1, &Heartbeat::Beat, this); }
    ~Heartbeat() { g_source_remove(source_); }
    void Reset() {
        last_ = NowMs();
        lastCpu_ = ThreadCpuMs();
        longest_ = longestCpu_ = 0;
    }
    double longest() const { return longest_; }
    double longestCpu() const { return longestCpu_; }

private:
    static gboolean Beat(gpointer self) {
        auto* h = static_cast<Heartbeat*>(self);
        double now = NowMs(), cpu = ThreadCpuMs();
        if (h->last_ > 0) {
            h->longest_ = std::max(h->longest_, now - h->last_);
            h->longestCpu_ = std::max(h->longestCpu_, cpu - h->lastCpu_);
        }
        h->last_ = now;
        h->lastCpu_ = cpu;
        return G_SOURCE_CONTINUE;
    }
    guint source_ = 0;
    double last_ = 0, lastCpu_ = 0;
    double longest_ = 0, longestCpu_ = 0;
};

struct Stall {
    double wall = 0;
    double cpu = 0;
};

// The core module's web window, reduced to what a command handler does with
// a call's text: look up its arguments.
class StallWnd : public QNInterface::WND::IQNWebWnd {
public:
    int id = 0;
    int dispatched = 0;
    bool started = false, done = false;
    int GetBrowserId() override { return id; }
    bool PreDispatch(const QNInterface::QNCEF::CEFRequest&) override { return true; }
    bool RegisterCaller(const std::string&, const std::string&, QNInterface::QNCEF::CEFCaller) override { return true; }
    void SetWndString(const std::wstring&) override {}
    void Dispatch(const QNInterface::QNCEF::CEFRequest& request) override {
        if (request.name == "_start") started = true;
        if (request.name == "_done") done = true;
        std::string value;
        for (const char* key : {"room_id", "rtmp_url", "high_rate", "audio_mode"}) GetRequestParam(key, request.data, value);
        ++dispatched;
    }
};

// The page: on its load, `rounds` times each of the largest text, the
// largest array and a refused million-element array, between two markers.
std::string StallPage(int rounds, bool calls) {
    return std::string("<!doctype html><script>function go(){"
                       "var call=KXVantorAsyn.VantorCommunicateAsyn;call('_start','');") +
           (calls ? "var text='a=b&'.repeat(65534)+'c';"        // with '_args': 256 KiB less 2 bytes
                    "var list=new Array(16380).fill(1);"         // with the id, callback and name: 16,384 values
                    "var huge=new Array(1000000).fill(1);"
                    "for(var i=0;i<" + std::to_string(rounds) + ";i++){"
                    "call('_args',text);KXWebApp.PostCPPTask('_list',list);KXWebApp.PostCPPTask('_huge',huge);}"
                  : "") +
           "setTimeout(function(){call('_done','');}," + (calls ? "0" : "1000") + ");}"
           "setTimeout(go,500);</script>";
}

Stall Measure(qmtest::HttpServer& web, const std::string& path, QNInterface::QNCEF::QNWebWndManager& manager,
               HWND host) {
    StallWnd wnd;
    manager.AddWebWnd(&wnd);
    RECT rect{0, 0, 640, 480};
    CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, rect, web.Url(path), false, false, 0);
    qmbench::PumpUntil([&] { return h->GetBrowserId() != 0; }, 30000);
    wnd.id = h->GetBrowserId();
    Heartbeat beat;
    qmbench::PumpUntil([&] { return wnd.started; }, 60000);
    beat.Reset();
    qmbench::PumpUntil([&] { return wnd.done; }, 120000);
    Stall longest{beat.longest(), beat.longestCpu()};
    manager.RemoveWebWnd(&wnd);
    h->GetBrowser()->GetHost()->CloseBrowser(true);
    h = nullptr;
    qmbench::PumpUntil([] { return KXCEF2_LiveBrowserCountForTesting() == 0; }, 20000);
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    if (!getenv("DISPLAY")) {
        std::printf("bench_bridge_stall: no DISPLAY (run it under an X server, e.g. xvfb-run)\n");
        return 0;
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    QNInterface::QNCEF::QNWebWndManager* started = qmbench::StartBridgeHost("error");
    if (!started) return 1;
    QNInterface::QNCEF::QNWebWndManager& manager = *started;

    qmtest::HttpServer web;
    web.Route("/calls.html", [rounds](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = StallPage(rounds, true);
        return r;
    });
    web.Route("/idle.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = StallPage(0, false);
        return r;
    });
    if (!web.Start()) return 1;
    manager.AllowOrigin(web.Url(""));

    HWND host = qmbench::ShowHostWindow(L"KXCEF2StallHost", &qmbench::KeepOpenProc, WS_OVERLAPPEDWINDOW, 640, 480);

    Stall idle = Measure(web, "/idle.html", manager, host);
    Stall busy = Measure(web, "/calls.html", manager, host);
    std::printf("UI thread's longest stall while a page sent %d rounds of its largest calls (256 KiB of text, "
                "16,384 values) and of a refused million-element array (goal under 50 ms): %.1f ms of its own "
                "work, %.1f ms in time on this machine's load; with the page idle %.1f ms and %.1f ms\n",
                rounds, busy.cpu, busy.wall, idle.cpu, idle.wall);
    qmbench::Figure("bridge_stall_cpu_ms", busy.cpu);
    qmbench::Figure("bridge_stall_wall_ms", busy.wall);
    qmbench::Figure("bridge_stall_idle_wall_ms", idle.wall);
    web.Stop();
    CCEF3Manager::CEFShutDown();
    return 0;
}
