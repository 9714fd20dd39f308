// Figures of the whole client next to a bare WebKitGTK window in the same run:
// launcher start to engine initialised and to QNInitUI; cold start to the first
// paint of the demo front-end; memory of all processes after load; idle CPU
// with the window shown and hidden. Prints "name: value" lines.
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

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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
    int rounds = std::getenv("QM_BENCH_ROUNDS") ? std::atoi(std::getenv("QM_BENCH_ROUNDS")) : 5;

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
        std::printf("launcher start to engine initialised (ms): %.1f\n", Median(engine));
        qmbench::Figure("launcher_to_engine_ms", Median(engine));
        qmbench::Figure("launcher_to_qninitui_ms", Median(init));
        std::printf("launcher start to QNInitUI called (ms): %.1f\n", Median(init));
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

    std::vector<double> client, bare;
    qmbench::TreeUsage clientMem, bareMem;
    double idleShown = 0, idleHidden = 0, idleBare = 0;
    for (int i = 0; i < rounds; ++i) {
        {
            paint.Reset();
            qmtest::ChildProcess c;
            Clock::time_point t0 = Clock::now();
            c.Start(install.ClientArgv(url), env, install.Path("client.out"));
            client.push_back(paint.WaitFrom(t0));
            if (i == 0) {
                std::this_thread::sleep_for(3s);  // settle after load
                clientMem = qmbench::MeasureTree(c.pid());
                idleShown = IdleCpuPercent(c.pid(), 5s);
                if (auto main = qmtest::FindMainWindow()) {
                    qmtest::XDo({"mousemove", std::to_string(main->x + main->width - 20), std::to_string(main->y + 14),
                                 "click", "1"});  // the close box hides to the tray
                    std::this_thread::sleep_for(1s);
                    idleHidden = IdleCpuPercent(c.pid(), 5s);
                }
            }
            c.Signal(SIGTERM);
            c.Wait(20s);
        }
        {
            paint.Reset();
            qmtest::ChildProcess b;
            Clock::time_point t0 = Clock::now();
            b.Start({qmtest::BinDir() + "/../bench/bench_bare_window", url, bareProfile.path()});
            bare.push_back(paint.WaitFrom(t0));
            if (i == 0) {
                std::this_thread::sleep_for(3s);
                bareMem = qmbench::MeasureTree(b.pid());
                idleBare = IdleCpuPercent(b.pid(), 5s);
            }
        }
    }
    double c = Median(client), b = Median(bare);
    qmbench::Figure("first_paint_ms_client", c);
    qmbench::Figure("first_paint_ms_bare", b);
    qmbench::Figure("memory_rss_mb_client", clientMem.rssKb / 1024.0);
    qmbench::Figure("memory_rss_mb_bare", bareMem.rssKb / 1024.0);
    qmbench::Figure("memory_pss_mb_client", clientMem.pssKb / 1024.0);
    qmbench::Figure("memory_pss_mb_bare", bareMem.pssKb / 1024.0);
    qmbench::Figure("idle_cpu_shown_client", idleShown);
    qmbench::Figure("idle_cpu_hidden_client", idleHidden);
    qmbench::Figure("idle_cpu_shown_bare", idleBare);
    std::printf("cold start to first paint, client (ms): %.0f\n", c);
    std::printf("cold start to first paint, bare WebKitGTK (ms): %.0f\n", b);
    std::printf("cold start ratio client/bare: %.2f\n", b > 0 ? c / b : 0);
    std::printf("memory after load, client, all processes RSS (MB): %.0f\n", clientMem.rssKb / 1024.0);
    std::printf("memory after load, client, all processes PSS (MB): %.0f\n", clientMem.pssKb / 1024.0);
    std::printf("memory after load, bare, all processes RSS (MB): %.0f\n", bareMem.rssKb / 1024.0);
    std::printf("memory after load, bare, all processes PSS (MB): %.0f\n", bareMem.pssKb / 1024.0);
    std::printf("client processes (RSS MB): %s\n", clientMem.Breakdown().c_str());
    std::printf("idle CPU, window shown (%% of one core): %.2f\n", idleShown);
    std::printf("idle CPU, window hidden (%% of one core): %.2f\n", idleHidden);
    std::printf("idle CPU, bare window (%% of one core): %.2f\n", idleBare);
    display.TearDown();
    return 0;
}
