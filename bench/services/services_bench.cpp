// Prints: the caller-thread cost of SendVeskLaunchApp (identity included), of
// the "_get_client_info" and "_nim_enum_player" handlers (the latter's process
// scan runs on the pool: its cost is printed on its own), and worker-pool
// throughput.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/figures.h"
#include "core/services/identity/http_launch_app.h"
#include "core/services/nim/nim_business.h"
#include "core/services/player/player_scan.h"
#include "core/services/pool/thread_pool.h"
#include "core/services/reply/js_reply.h"
#include "tests/support/http_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Prints the distribution; returns the median.
double PrintTimes(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("%-40s n=%zu  mean %.3f ms  p50 %.3f ms  p99 %.3f ms  max %.3f ms\n", what, ms.size(),
                sum / static_cast<double>(ms.size()), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    return ms[ms.size() / 2];
}

class NullWindow : public QNInterface::WND::IQNWebWnd {
public:
    int GetBrowserId() override { return 1; }
    bool PreDispatch(const QNInterface::QNCEF::CEFRequest&) override { return false; }
    bool RegisterCaller(const std::string&, const std::string&, QNInterface::QNCEF::CEFCaller) override { return false; }
    void Dispatch(const QNInterface::QNCEF::CEFRequest&) override {}
    void SetWndString(const std::wstring&) override {}
};

void BenchLaunchReport() {
    qmtest::HttpServer server;
    server.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    if (!server.Start()) {
        std::printf("launch report: no loopback server\n");
        return;
    }
    HttpLaunchApp app;
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        auto start = Clock::now();
        app.SendVeskLaunchApp("83302ACB1052", "ccid", "tgid", "pid", "1.0.9.1", server.Url("/opt=put"));
        times.push_back(Ms(Clock::now() - start));
        CommonFunc::ThreadPool::Get()->GetPool().wait();  // one report at a time, as at start-up
    }
    qmbench::Figure("report_ui_thread_ms", PrintTimes("SendVeskLaunchApp (caller thread)", times));
    std::printf("%-40s %zu requests received\n", "", server.RequestCount());
}

void BenchClientInfo() {
    std::atomic<size_t> sent{0};
    JsCommandSender previous = SetJsCommandSender([&](const std::string&, std::vector<VARIANT>&, int) {
        ++sent;
        return true;
    });
    HttpLaunchApp* identity = HttpLaunchApp::Get();
    NullWindow window;
    QNInterface::QNCEF::CEFRequest request;
    request.name = "_get_client_info";
    request.window = &window;
    std::vector<double> times;
    for (int i = 0; i < 1000; ++i) {
        auto start = Clock::now();
        ReplyToRequest(request, identity->ClientInfo(), "_get_client_info");
        times.push_back(Ms(Clock::now() - start));
    }
    SetJsCommandSender(previous);
    qmbench::Figure("client_info_ms", PrintTimes("_get_client_info handler", times));
}

bool BenchEnumPlayer() {
    std::atomic<size_t> sent{0};
    JsCommandSender previous = SetJsCommandSender([&](const std::string&, std::vector<VARIANT>&, int) {
        ++sent;
        return true;
    });
    NimBusiness nim;
    NullWindow window;
    QNInterface::QNCEF::CEFRequest request;
    request.name = "_nim_enum_player";
    request.window = &window;
    std::vector<double> handler, scans;
    // In batches the scanner keeps waiting: beyond that it drops requests, as
    // it does for a page calling in a loop, and their answers never come.
    constexpr size_t kCalls = 1000;
    const size_t batch = PlayerScan::kMaxWaiting / 2;
    for (size_t done = 0; done < kCalls;) {
        size_t end = std::min(kCalls, done + batch);
        for (; done < end; ++done) {
            auto start = Clock::now();
            nim.OnNimEnumPlayer(request, "_nim_enum_player");
            handler.push_back(Ms(Clock::now() - start));
        }
        auto deadline = Clock::now() + std::chrono::seconds(30);
        while (sent.load() < done && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (sent.load() < done) {
            std::printf("_nim_enum_player: %zu of %zu answers within 30 s\n", sent.load(), done);
            SetJsCommandSender(previous);
            return false;
        }
    }
    for (int i = 0; i < 20; ++i) {
        auto start = Clock::now();
        PlayerScan::ScanNow();
        scans.push_back(Ms(Clock::now() - start));
    }
    SetJsCommandSender(previous);
    qmbench::Figure("enum_player_ui_thread_ms", PrintTimes("_nim_enum_player handler (caller)", handler));
    qmbench::Figure("player_scan_ms", PrintTimes("player scan (worker pool)", scans));
    return true;
}

void BenchPool(bool growing) {
    constexpr int kTasks = 100000;
    std::atomic<int> done{0};
    CommonFunc::ThreadPool wrapper;
    TaskPool fixed(4);
    auto start = Clock::now();
    for (int i = 0; i < kTasks; ++i) {
        TaskPool& pool = growing ? wrapper.GetPool() : fixed;
        pool.schedule([&done] { done.fetch_add(1, std::memory_order_relaxed); });
    }
    auto scheduled = Clock::now();
    TaskPool& pool = growing ? wrapper.GetPool() : fixed;
    size_t workers = pool.size();
    pool.wait();
    auto finished = Clock::now();
    if (growing) qmbench::Figure("pool_tasks_per_s", kTasks / (Ms(finished - start) / 1000.0));
    std::printf("%-40s %d tasks  scheduling %.1f ms  all done %.1f ms  %.0f tasks/s  workers %zu\n",
                growing ? "pool with growth rule (GetPool each)" : "pool fixed at 4 workers", done.load(),
                Ms(scheduled - start), Ms(finished - start), kTasks / (Ms(finished - start) / 1000.0), workers);
}

}  // namespace

int main() {
    curl_global_init(CURL_GLOBAL_ALL);
    BenchLaunchReport();
    BenchClientInfo();
    bool ok = BenchEnumPlayer();
    BenchPool(true);
    BenchPool(false);
    curl_global_cleanup();
    return ok ? 0 : 1;
}
