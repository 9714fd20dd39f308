// Figures of the whole client next to a bare WebKitGTK window with the same
// engine settings, in interleaved pairs (the order alternates from pair to
// pair): cold start to the first paint of the demo front-end (QM_BENCH_PAIRS
// pairs, default 10); memory of all processes after load and idle CPU with
// the window shown (the first 5 pairs) and hidden (client only). Before them,
// launcher start to engine initialised and to QNInitUI (QM_BENCH_ROUNDS runs,
// default 5). Prints each figure's median, spread and the pairs' ratio. With
// QM_BENCH_SMAPS_DIR set, each measured process's /proc/<pid>/smaps is saved
// there, for finding where the memory goes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bench/process_tree.h"
#include "bench/figures.h"
#include "tests/support/x_probe.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Spawns argv with stderr on a pipe and reports when each marker first appears.
std::vector<double> StartupMarks(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                 const std::vector<std::string>& markers) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    Clock::time_point t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        dup2(fds[1], 2);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(fds[0]);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    std::vector<double> marks(markers.size(), -1);
    std::string text;
    char buf[4096];
    auto deadline = Clock::now() + 60s;
    while (Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        for (size_t i = 0; i < markers.size(); ++i)
            if (marks[i] < 0 && text.find(markers[i]) != std::string::npos) marks[i] = Ms(Clock::now() - t0);
    }
    close(fds[0]);
    int status;
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    return marks;
}

class PaintWatch {
public:
    explicit PaintWatch(qmtest::HttpServer& web) {
        web.Route("/painted", [this](const qmtest::HttpRequest&) {
            std::lock_guard<std::mutex> lock(mutex_);
            painted_ = Clock::now();
            ++count_;
            return qmtest::HttpResponse();
        });
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        count_ = 0;
    }
    // Milliseconds from `t0` to the first paint, or -1.
    double WaitFrom(Clock::time_point t0) {
        bool ok = qmtest::WaitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return count_ > 0;
        }, 60s);
        std::lock_guard<std::mutex> lock(mutex_);
        return ok ? Ms(painted_ - t0) : -1;
    }

private:
    std::mutex mutex_;
    Clock::time_point painted_;
    int count_ = 0;
};

double IdleCpuPercent(int pid, std::chrono::seconds span) {
    double before = qmbench::MeasureTree(pid).CpuMs();
    std::this_thread::sleep_for(span);
    double after = qmbench::MeasureTree(pid).CpuMs();
    return 100.0 * (after - before) / 1000.0 / static_cast<double>(span.count());
}

}  // namespace

int main() {
    qmtest::XvfbEnvironment display;
    if (std::getenv("DISPLAY") == nullptr) display.SetUp();
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    int rounds = qmbench::CountFromEnv("QM_BENCH_ROUNDS", 5);
    int pairs = qmbench::CountFromEnv("QM_BENCH_PAIRS", 10);

    // Launcher start, with a stand-in core module that logs QNInitUI to stderr.
    {
        qmtest::ClientInstall install({"qm_core.so"});
        qmtest::WriteFile(install.Path("qm_core.so"), qmtest::ReadFile(qmtest::BinDir() + "/../tests/test_core_module.so"));
        std::vector<double> engine, init;
        for (int i = 0; i < rounds; ++i) {
            auto marks = StartupMarks({install.Path("qm_main")},
                                      {{"QM_TEST_CORE_LOG", "/dev/stderr"}, {"QM_TEST_CORE_QUIT_MS", "50"}},
                                      {"CefInitiaLize Success", "QNInitUI"});
            if (marks.size() == 2) engine.push_back(marks[0]), init.push_back(marks[1]);
        }
        qmbench::Samples("launcher_to_engine_ms", engine);
        qmbench::Samples("launcher_to_qninitui_ms", init);
        std::printf("launcher start to engine initialised (ms): %s\n",
                    qmbench::Describe(qmbench::Summarise(engine), "%.1f").c_str());
        std::printf("launcher start to QNInitUI called (ms): %s\n",
                    qmbench::Describe(qmbench::Summarise(init), "%.1f").c_str());
    }

    qmtest::HttpServer web, stats;
    web.ServeDirectory(qmtest::SourceDir() + "/web");
    PaintWatch paint(web);
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    if (!web.Start() || !stats.Start()) return 1;
    std::string url = web.Url("/?painted=1");

    qmtest::ClientInstall install;
    install.WriteDeploy(stats.port());
    std::map<std::string, std::string> env = install.PrepareHome();
    qmtest::TempDir bareProfile;

    // Interleaved pairs, the order alternating from pair to pair; memory and
    // idle CPU after load in the first `measured` pairs (they take seconds each).
    std::vector<double> firstPaint[2], rss[2], pss[2], idle[2], idleHidden;
    std::string clientBreakdown, bareBreakdown;
    int measured = std::min(pairs, 5);
    for (int i = 0; i < pairs; ++i) {
        for (int k = 0; k < 2; ++k) {
            bool isClient = (k == 0) == (i % 2 == 0);
            int side = isClient ? 0 : 1;
            paint.Reset();
            qmtest::ChildProcess p;
            Clock::time_point t0 = Clock::now();
            if (isClient) p.Start(install.ClientArgv(url), env, install.Path("client.out"));
            else p.Start({qmtest::BinDir() + "/../bench/bench_bare_window", url, bareProfile.path()});
            firstPaint[side].push_back(paint.WaitFrom(t0));
            if (i < measured) {
                std::this_thread::sleep_for(3s);  // settle after load
                qmbench::TreeUsage mem = qmbench::MeasureTree(p.pid());
                rss[side].push_back(mem.rssKb / 1024.0);
                pss[side].push_back(mem.pssKb / 1024.0);
                std::string& breakdown = isClient ? clientBreakdown : bareBreakdown;
                if (breakdown.empty()) breakdown = mem.Breakdown();
                if (const char* dir = std::getenv("QM_BENCH_SMAPS_DIR"))  // where the memory goes, per mapping
                    for (const auto& proc : mem.processes)
                        qmtest::WriteFile(std::string(dir) + "/" + (isClient ? "client-" : "bare-") + proc.name + "-" +
                                              std::to_string(i) + ".smaps",
                                          qmtest::ReadFile("/proc/" + std::to_string(proc.pid) + "/smaps"));
                idle[side].push_back(IdleCpuPercent(p.pid(), 3s));
                if (isClient) {
                    if (auto main = qmtest::FindMainWindow()) {
                        qmtest::XDo({"mousemove", std::to_string(main->x + main->width - 20),
                                     std::to_string(main->y + 14), "click", "1"});  // the close box hides to the tray
                        std::this_thread::sleep_for(1s);
                        idleHidden.push_back(IdleCpuPercent(p.pid(), 3s));
                    }
                }
            }
            p.Signal(SIGTERM);
            if (p.Wait(20s) < 0) p.Kill();
            std::printf("pair %d %-6s first paint %.0f ms\n", i + 1, isClient ? "client" : "bare", firstPaint[side].back());
            std::fflush(stdout);
        }
    }
    qmbench::PrintPairs("cold start to first paint (ms)", firstPaint[0], firstPaint[1], "%.0f");
    qmbench::PrintPairs("memory after load, all processes, RSS (MB)", rss[0], rss[1], "%.0f");
    qmbench::PrintPairs("memory after load, all processes, PSS (MB)", pss[0], pss[1], "%.0f");
    qmbench::PrintPairs("idle CPU, window shown (% of one core)", idle[0], idle[1], "%.2f");
    std::printf("idle CPU, window hidden (%% of one core): %s\n", qmbench::Describe(qmbench::Summarise(idleHidden), "%.2f").c_str());
    std::printf("client processes (RSS/PSS MB): %s\n", clientBreakdown.c_str());
    std::printf("bare processes (RSS/PSS MB): %s\n", bareBreakdown.c_str());
    bool ok = qmbench::Pairs("first_paint_ms_client", "first_paint_ms_bare", firstPaint[0], firstPaint[1]);
    ok = qmbench::Pairs("memory_rss_mb_client", "memory_rss_mb_bare", rss[0], rss[1]) && ok;
    ok = qmbench::Pairs("memory_pss_mb_client", "memory_pss_mb_bare", pss[0], pss[1]) && ok;
    qmbench::Pairs("idle_cpu_shown_client", "idle_cpu_shown_bare", idle[0], idle[1]);
    qmbench::Samples("idle_cpu_hidden_client", idleHidden);
    for (int side = 0; side < 2; ++side)
        for (double v : firstPaint[side]) ok = ok && v >= 0;
    display.TearDown();
    return ok ? 0 : 1;
}
