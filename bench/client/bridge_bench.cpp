// The page bridge of the whole client next to a bare WebKitGTK window, in
// interleaved pairs (the order alternates from pair to pair):
//   1. the round trip page → KXVantorAsyn.VantorCommunicateAsyn("_get_client_info")
//      → the core module's real handler → JsHandleCallBack → page, timed in
//      the page, 2,000 sequential calls after 200 warm-up calls; p50 and p99
//      of each run;
//   2. synchronous page calls per second (KXVantorSyn.VantorCommunicateSync).
// The bare window answers the same calls through a minimal web extension.
// The page is cross-origin isolated (COOP/COEP), so performance.now() is
// not coarsened; a run whose page is not isolated fails the benchmark.
//   bench_bridge            (QM_BENCH_PAIRS pairs, default 5)
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "bench/figures.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

// Calls the client's functions when the page has them, the bare extension's otherwise.
const char kBridgePage[] = R"HTML(<!doctype html><html><head><title>bridge</title></head><body><script>
(function () {
  var client = typeof KXVantorAsyn === 'object';
  var call = client ? function () { KXVantorAsyn.VantorCommunicateAsyn('_get_client_info', ''); }
                    : function () { bareCall('_get_client_info', ''); };
  var WARM = 200, N = 2000, i = 0, t0 = 0, rt = [];
  window.JsHandleCallBack = function (text) {
    var now = performance.now();
    if (String(text).indexOf('"cbfn":"_get_client_info"') < 0) return;
    if (i >= WARM) rt.push(now - t0);
    if (++i < WARM + N) { t0 = performance.now(); call(); } else setTimeout(syncCalls, 50);
  };
  function syncCalls() {
    var n = 300000, k, s = performance.now();
    if (client) for (k = 0; k < n; k++) KXVantorSyn.VantorCommunicateSync('a', 'b');
    else for (k = 0; k < n; k++) bareSync('a', 'b');
    var ms = performance.now() - s;
    var x = new XMLHttpRequest();
    x.open('POST', '/result');
    x.send('isolated=' + (self.crossOriginIsolated ? 1 : 0) + ' sync=' + Math.round(n * 1000 / ms) +
           ' rt=' + rt.map(function (v) { return v.toFixed(4); }).join(','));
  }
  setTimeout(function () { t0 = performance.now(); call(); }, 300);
})();
</script></body></html>)HTML";

struct RunFigures {
    double p50 = -1, p99 = -1, syncPerS = -1;
};

class ResultRoute {
public:
    explicit ResultRoute(qmtest::HttpServer& web) {
        web.Route("/result", [this](const qmtest::HttpRequest& r) {
            std::lock_guard<std::mutex> lock(mutex_);
            body_ = r.body;
            arrived_.notify_all();
            return qmtest::HttpResponse();
        });
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        body_.clear();
    }
    std::string Wait(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, timeout, [this] { return !body_.empty(); });
        return body_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string body_;
};

// The page's clock ticks in steps (20 µs when isolated): a percentile taken
// straight from the samples would move in whole steps. Each step's samples
// are taken as spread evenly over the step, and the percentile is read where
// the cumulative count reaches it.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    double step = 0;
    for (size_t i = 1; i < v.size(); ++i) {
        double d = v[i] - v[i - 1];
        if (d > 1e-9 && (step == 0 || d < step)) step = d;
    }
    double target = p * static_cast<double>(v.size());
    size_t below = 0;
    for (size_t i = 0; i < v.size();) {
        size_t j = i;
        while (j < v.size() && v[j] - v[i] < 1e-9) ++j;  // samples on the same tick
        if (static_cast<double>(j) >= target) {
            double within = (target - static_cast<double>(below)) / static_cast<double>(j - i);
            return v[i] - step / 2 + within * step;
        }
        below = j;
        i = j;
    }
    return v.back();
}

// Reads "isolated=1 sync=N rt=a,b,…"; false when the page was not isolated or sent no times.
bool ParseResult(const std::string& body, RunFigures& out) {
    if (qmbench::Field(body, "isolated") != 1) return false;
    out.syncPerS = qmbench::Field(body, "sync");
    std::vector<double> rt;
    size_t at = body.find("rt=");
    if (at == std::string::npos) return false;
    std::istringstream list(body.substr(at + 3));
    for (std::string item; std::getline(list, item, ',');) rt.push_back(std::atof(item.c_str()));
    if (rt.size() < 100) return false;
    out.p50 = Percentile(rt, 0.5);
    out.p99 = Percentile(rt, 0.99);
    return true;
}

// One run: starts the program, waits for the page's result, stops it.
bool Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
         const std::string& log, ResultRoute& result, RunFigures& out) {
    result.Reset();
    qmtest::ChildProcess p;
    if (!p.Start(argv, env, log)) return false;
    std::string body = result.Wait(120s);
    p.Signal(SIGTERM);
    if (p.Wait(20s) < 0) p.Kill();
    if (!ParseResult(body, out)) {
        std::printf("  run of %s gave no usable result: \"%.200s\" (log %s)\n", argv[0].c_str(), body.c_str(),
                    log.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main() {
    qmtest::XvfbEnvironment display;
    if (std::getenv("DISPLAY") == nullptr) display.SetUp();
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    int pairs = qmbench::CountFromEnv("QM_BENCH_PAIRS", 5);

    qmtest::HttpServer web, stats;
    web.Route("/bridge.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = kBridgePage;
        r.headers = {{"Cross-Origin-Opener-Policy", "same-origin"}, {"Cross-Origin-Embedder-Policy", "require-corp"}};
        return r;
    });
    ResultRoute result(web);
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    if (!web.Start() || !stats.Start()) return 1;
    std::string url = web.Url("/bridge.html");

    qmtest::ClientInstall install;
    // A load test: the per-page limit on page commands would pace it.
    install.WriteDeploy(stats.port(), "[limits]\npage_calls_per_second=10000000\n");
    std::map<std::string, std::string> env = install.PrepareHome();
    qmtest::TempDir bareProfile;
    std::vector<std::string> bareArgv{qmtest::BinDir() + "/../bench/bench_bare_window", url, bareProfile.path(),
                                      qmtest::BinDir() + "/../bench/bare-ext"};

    std::vector<double> p50[2], p99[2], sync[2];  // [0] client, [1] bare
    bool ok = true;
    for (int i = 0; i < pairs; ++i) {
        for (int k = 0; k < 2; ++k) {
            bool client = (k == 0) == (i % 2 == 0);  // alternate which goes first
            RunFigures f;
            bool ran = client ? Run(install.ClientArgv(url), env, install.Path("client.out"), result, f)
                              : Run(bareArgv, {}, bareProfile.File("bare.out"), result, f);
            ok = ran && ok;
            int side = client ? 0 : 1;
            p50[side].push_back(f.p50);
            p99[side].push_back(f.p99);
            sync[side].push_back(f.syncPerS);
            std::printf("pair %d %-6s round trip p50 %.3f ms p99 %.3f ms, %.0f synchronous calls/s\n", i + 1,
                        client ? "client" : "bare", f.p50, f.p99, f.syncPerS);
            std::fflush(stdout);
        }
    }
    qmbench::PrintPairs("bridge round trip p50 (ms)", p50[0], p50[1]);
    qmbench::PrintPairs("bridge round trip p99 (ms)", p99[0], p99[1]);
    qmbench::PrintPairs("synchronous calls per second", sync[0], sync[1], "%.0f");
    ok = qmbench::Pairs("bridge_rt_p50_ms_client", "bridge_rt_p50_ms_bare", p50[0], p50[1]) && ok;
    ok = qmbench::Pairs("bridge_rt_p99_ms_client", "bridge_rt_p99_ms_bare", p99[0], p99[1]) && ok;
    ok = qmbench::Pairs("sync_calls_per_s_client", "sync_calls_per_s_bare", sync[0], sync[1]) && ok;
    display.TearDown();
    return ok ? 0 : 1;
}
