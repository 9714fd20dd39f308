// Off-screen rendering figures, end to end through the browser host:
//   1. frames per second of a page animating a whole 1280 x 720 canvas, from
//      the engine's repaint into the windowless browser's bitmap and on to the
//      host window's paint, and the CPU time of all processes per frame; next
//      to a bare WebKitGTK off-screen program on the same page, in
//      interleaved pairs (osr_bench [pairs], default 5);
//   2. latency from a click given to the host window to the first frame in
//      the bitmap that shows the page's answer to it.
// Needs an X display (DISPLAY).
#include <gtk/gtk.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/cefhost/bench_common.h"
#include "bench/cefhost/host_window.h"
#include "bench/figures.h"
#include "bench/osr/cpu_tree.h"
#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "uilib/UiLib.h"
#include "uilib/win32.h"

namespace {

using qmbench::NowMs;

CCEF3Handler* g_painted = nullptr;  // the browser whose bitmap the host window paints
long g_hostPaints = 0;

LRESULT HostProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_PAINT && g_painted) {
        // What the browser control does: the bitmap, scaled into its place.
        if (OSRBitmap* bitmap = g_painted->LockOSRBitmap())
            UiLib::CRenderEngine::DrawImage(reinterpret_cast<HDC>(w), bitmap->pixels, bitmap->width, bitmap->height,
                                            bitmap->stride, RECT{0, 0, 1280, 720});
        g_painted->UnLockOSRBitmap();
        ++g_hostPaints;
        return 0;
    }
    return m == WM_CLOSE ? 0 : UiLib::DefWindowProcW(h, m, w, l);
}

HWND HostWindow() { return qmbench::ShowHostWindow(L"KXCEF2OsrBenchHost", &HostProc, WS_POPUP, 1280, 720); }

struct LoadWatch {
    bool loaded = false;
    bool OnEvent(int code, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int) {
        if (code == CEF3_EVENT_LOAD_END) loaded = true;
        return true;
    }
};

CefRefPtr<CCEF3Handler> Open(HWND host, const std::string& url, LoadWatch& watch) {
    CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, RECT{0, 0, 1280, 720}, url, true, false, 0);
    h->SetBrowserEventCallBack(CCEF3BrowserDelegate<LoadWatch>(&watch, &LoadWatch::OnEvent));
    qmbench::PumpUntil([&] { return watch.loaded; }, 30000);
    return h;
}

std::uint32_t Pixel(CCEF3Handler* h, int x, int y) {
    std::uint32_t v = 0;
    if (OSRBitmap* b = h->LockOSRBitmap())
        if (x < b->width && y < b->height)
            v = *reinterpret_cast<const std::uint32_t*>(b->pixels + static_cast<size_t>(y) * b->stride + x * 4);
    h->UnLockOSRBitmap();
    return v & 0xFFFFFF;
}

void PumpFor(double ms) {
    double end = NowMs() + ms;
    while (NowMs() < end) g_main_context_iteration(nullptr, FALSE) || (g_usleep(500), true);
}

// A grey page that turns its whole view to another colour on each press.
const char kClickPage[] = R"HTML(<!doctype html><html><body style="margin:0;height:720px;background:rgb(128,128,128)">
<script>
var colours = ['rgb(200,30,40)', 'rgb(20,160,60)'], n = 0;
document.addEventListener('mousedown', function () { document.body.style.background = colours[n++ % 2]; });
</script></body></html>)HTML";

}  // namespace

int main(int argc, char** argv) {
    int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    setenv("KXCEF2_WEBEXT_DIR", OSRBENCH_RENDER_EXT, 1);
    CCEF3Manager::SetProcessHandler(nullptr);
    if (CCEF3Manager::CEFInit(nullptr) >= 0) return 1;
    std::string dir = "/tmp/osr_bench_" + std::to_string(getpid());
    g_mkdir_with_parents(dir.c_str(), 0700);
    std::string canvas = qmbench::WritePage(dir, "canvas.html", qmbench::CanvasPage());
    std::string click = qmbench::WritePage(dir, "click.html", kClickPage);

    // 1. Frame rate and CPU per frame, in interleaved pairs with the bare
    // program (the order alternates from pair to pair). Each browser gets a
    // host window of its own: a browser that closes closes its host window.
    std::vector<double> fps[2], cpuPerFrame[2];  // [0] KXCEF2, [1] bare
    for (int i = 0; i < pairs; ++i) {
        for (int k = 0; k < 2; ++k) {
            if ((k == 0) != (i % 2 == 0)) {
                std::string bare = qmbench::RunCapture(std::string(OSRBENCH_BARE) + " 2>/dev/null");
                fps[1].push_back(qmbench::Field(bare, "fps"));
                cpuPerFrame[1].push_back(qmbench::Field(bare, "cpu_ms_per_frame"));
                continue;
            }
            HWND host = HostWindow();
            LoadWatch canvasLoad;
            CefRefPtr<CCEF3Handler> animated = Open(host, canvas, canvasLoad);
            g_painted = animated.get();
            PumpFor(2000);  // warm up
            long frames0 = KXCEF2_OsrInvalidationsForTesting(host);
            long paints0 = g_hostPaints;
            double cpu0 = qmbench::TreeCpuMs(getpid()), t0 = NowMs();
            PumpFor(5000);
            double seconds = (NowMs() - t0) / 1000.0;
            long frames = KXCEF2_OsrInvalidationsForTesting(host) - frames0;
            double cpu = qmbench::TreeCpuMs(getpid()) - cpu0;
            fps[0].push_back(canvasLoad.loaded ? frames / seconds : -1);
            cpuPerFrame[0].push_back(frames ? cpu / frames : -1);
            std::printf("pair %d KXCEF2: %.1f frames/s into the bitmap, %.1f host paints/s, %.2f ms CPU per frame"
                        " (%.0f%% of one core, %ld cores here)\n",
                        i + 1, fps[0].back(), (g_hostPaints - paints0) / seconds, cpuPerFrame[0].back(),
                        100.0 * cpu / (seconds * 1000.0), sysconf(_SC_NPROCESSORS_ONLN));
            g_painted = nullptr;
            animated->CloseBrowser();
            animated = nullptr;
            PumpFor(300);
        }
    }
    qmbench::PrintPairs("off-screen 1280x720 canvas, frames per second (KXCEF2 vs bare)", fps[0], fps[1], "%.1f");
    qmbench::PrintPairs("off-screen CPU of all processes per frame (ms)", cpuPerFrame[0], cpuPerFrame[1], "%.2f");

    // 2. Click to the changed frame, in a host window of its own.
    HWND host = HostWindow();
    LoadWatch clickLoad;
    CefRefPtr<CCEF3Handler> clicked = Open(host, click, clickLoad);
    qmbench::PumpUntil([&] { return Pixel(clicked.get(), 640, 360) == 0x808080; }, 10000);
    std::vector<double> latencies;
    UiLib::SendMessageW(host, WM_MOUSEMOVE, 0, MAKELPARAM(600, 360));  // the pointer comes over the page first
    PumpFor(100);
    for (int i = 0; i < 30; ++i) {
        std::uint32_t before = Pixel(clicked.get(), 640, 360);
        double start = NowMs();
        UiLib::SendMessageW(host, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(640 + (i % 2) * 40, 360));
        UiLib::SendMessageW(host, WM_LBUTTONUP, 0, MAKELPARAM(640 + (i % 2) * 40, 360));
        if (!qmbench::PumpUntil([&] { return Pixel(clicked.get(), 640, 360) != before; }, 5000)) {
            std::printf("  no changed frame after click %d (pixel %06x)\n", i, before);
            break;
        }
        latencies.push_back(NowMs() - start);
        PumpFor(50);
    }
    double p50 = latencies.empty() ? -1 : qmbench::Percentile(latencies, 0.5);
    double p95 = latencies.empty() ? -1 : qmbench::Percentile(latencies, 0.95);
    std::printf("click to changed frame in the bitmap: p50 %.1f ms, p95 %.1f ms (%zu clicks)\n", p50, p95,
                latencies.size());
    clicked->CloseBrowser();
    clicked = nullptr;
    PumpFor(500);

    bool ok = qmbench::Pairs("osr_fps_client", "osr_fps_bare", fps[0], fps[1]);
    qmbench::Pairs("osr_cpu_ms_per_frame_client", "osr_cpu_ms_per_frame_bare", cpuPerFrame[0], cpuPerFrame[1]);
    ok = qmbench::Samples("osr_click_latency_ms_client", latencies) && ok;
    for (double v : fps[0]) ok = ok && v > 0;
    for (double v : fps[1]) ok = ok && v > 0;
    CCEF3Manager::CEFShutDown();
    qmbench::RunCapture("rm -rf " + dir);
    return ok ? 0 : 1;
}
