// Soak of the whole client, bounded in count and time; prints "name: value" lines.
//   soak_bench [commands] [cycles]     (defaults 100000 and 50)
// 1. The page sends `commands` page commands through the bridge in batches,
//    after a warm-up; the client's memory is sampled between batches, with
//    nothing in flight, before and after.
// 2. The client is started and stopped `cycles` times in one installation;
//    after each stop no process of it may remain, and no file may be left
//    behind that the first run did not already make.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/figures.h"
#include "tests/faults/client_harness.h"
#include "tests/support/display.h"
#include "tests/support/proc.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs `total` commands in batches of `batch`: two of every three are
// "_get_client_info" (answered), the rest a getter that never answers. After
// each batch's answers are in, the page asks the server for the next step.
const char kSoakPage[] = R"(<!doctype html><html><head><title>soak</title></head><body><script>
(function () {
  var expected = 0, answered = 0, sent = 0;
  window.JsHandleCallBack = function () { answered++; if (answered === expected) step(); };
  function batch(n) {
    for (var i = 0; i < n; i++) {
      if (i % 3 === 2) KXVantorAsyn.VantorCommunicateAsyn('_nim_get_muted', '');
      else { expected++; KXVantorAsyn.VantorCommunicateAsyn('_get_client_info', ''); }
    }
    sent += n;
    if (expected === answered) step();
  }
  function step() {
    var x = new XMLHttpRequest();
    x.open('POST', '/step');
    x.onload = function () { var n = parseInt(x.responseText, 10); if (n > 0) batch(n); };
    x.send(String(sent));
  }
  step();
})();
</script></body></html>)";

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long WebRssKb(int client) {
    long kb = 0;
    for (int pid : qmtest::ChildrenNamed(client, "WebKitWebProces")) kb += qmtest::RssKb(pid);
    return kb;
}

void Files(const std::string& root, const std::string& rel, std::set<std::string>& out) {
    DIR* d = opendir((root + "/" + rel).c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        std::string path = rel.empty() ? n : rel + "/" + n;
        struct stat st{};
        if (lstat((root + "/" + path).c_str(), &st) != 0) continue;
        out.insert(path);
        if (S_ISDIR(st.st_mode)) Files(root, path, out);
    }
    closedir(d);
}

std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) out.insert(e->d_name);
    closedir(d);
    return out;
}

bool Alive(int pid) {
    qmtest::ProcStat process;
    return qmtest::ReadProcStat(pid, process) && process.state != 'Z';
}

int CommandSoak(long total) {
    const long warmup = std::min<long>(5000, total), batch = 300;
    qmtest::ClientRun run;
    // A load test: the per-page limit on page commands would pace it.
    run.WriteDeploy("[limits]\npage_calls_per_second=10000000\n");
    std::mutex lock;
    long sent = 0;
    long rssBefore = 0, webBefore = 0, rssAfter = 0, webAfter = 0;
    Clock::time_point start, end;
    bool done = false;
    run.web().Route("/soak.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = kSoakPage;
        return r;
    });
    run.web().Route("/step", [&](const qmtest::HttpRequest& request) {
        std::lock_guard<std::mutex> l(lock);
        sent = std::atol(request.body.c_str());
        int client = run.process().pid();
        // Nothing is in flight here: every answer of the last batch is in.
        if (sent == warmup) {
            rssBefore = qmtest::RssKb(client);
            webBefore = WebRssKb(client);
            start = Clock::now();
        }
        if (sent == warmup + total) {
            end = Clock::now();
            rssAfter = qmtest::RssKb(client);
            webAfter = WebRssKb(client);
            done = true;
        }
        long next = sent < warmup ? std::min(batch, warmup - sent) : std::min(batch, warmup + total - sent);
        qmtest::HttpResponse r;
        r.contentType = "text/plain";
        r.body = std::to_string(std::max(0L, next));
        return r;
    });
    if (!run.Start("/soak.html")) return 1;
    // At 0.1 ms or more per command this takes well under the bound.
    bool finished = qmtest::WaitUntil([&] {
        std::lock_guard<std::mutex> l(lock);
        return done;
    }, std::chrono::minutes(15));
    int code = run.Stop();
    std::lock_guard<std::mutex> l(lock);
    if (!finished) {
        std::printf("soak_commands_done: %ld\n", sent - warmup);
        std::printf("soak_error: the page stopped before all commands were answered\n");
        return 1;
    }
    double seconds = std::chrono::duration<double>(end - start).count();
    double growth = rssBefore ? 100.0 * (rssAfter - rssBefore) / rssBefore : 0;
    double webGrowth = webBefore ? 100.0 * (webAfter - webBefore) / webBefore : 0;
    std::printf("soak_commands: %ld\n", total);
    std::printf("soak_answered_commands: %ld\n", total - total / 3);
    std::printf("soak_seconds: %.1f\n", seconds);
    std::printf("soak_commands_per_s: %.0f\n", total / seconds);
    std::printf("soak_client_rss_before_kb: %ld\n", rssBefore);
    std::printf("soak_client_rss_after_kb: %ld\n", rssAfter);
    std::printf("soak_client_rss_growth_percent: %.2f\n", growth);
    qmbench::Figure("soak_memory_growth_pct", growth);
    std::printf("soak_web_process_rss_before_kb: %ld\n", webBefore);
    std::printf("soak_web_process_rss_after_kb: %ld\n", webAfter);
    std::printf("soak_web_process_rss_growth_percent: %.2f\n", webGrowth);
    std::printf("soak_client_memory_flat_within_5_percent: %s\n", growth <= 5.0 ? "yes" : "no");
    std::printf("soak_client_exit_code: %d\n", code);
    return growth <= 5.0 && code == 0 ? 0 : 1;
}

int StartStopCycles(int cycles) {
    qmtest::ClientRun run;
    std::vector<double> loadMs, stopMs;
    int cleanExits = 0, leftProcesses = 0;
    std::set<std::string> firstFiles, tmpBefore = Entries("/tmp"), shmBefore = Entries("/dev/shm");
    for (int i = 0; i < cycles; ++i) {
        Clock::time_point t0 = Clock::now();
        if (!run.StartAndLoad(60s)) {
            std::printf("cycles_error: start %d did not load\n", i + 1);
            run.Stop();
            return 1;
        }
        loadMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        std::vector<int> processes = qmtest::Descendants(run.process().pid());
        Clock::time_point t1 = Clock::now();
        int code = run.Stop(30s);
        stopMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
        cleanExits += code == 0;
        // Helpers are reparented once the client is gone; give them a moment to end.
        qmtest::WaitUntil([&] {
            return std::none_of(processes.begin(), processes.end(), Alive);
        }, 10s);
        for (int pid : processes) {
            if (Alive(pid)) {
                ++leftProcesses;
                kill(pid, SIGKILL);
            }
        }
        if (i == 0) Files(run.dir(), "", firstFiles);
    }
    std::set<std::string> lastFiles, newFiles;
    Files(run.dir(), "", lastFiles);
    for (const std::string& f : lastFiles)
        if (!firstFiles.count(f) && f.rfind("tmp/", 0) != 0) newFiles.insert(f);
    size_t profileFiles = 0;
    for (const std::string& f : lastFiles) profileFiles += f.rfind("tmp/", 0) == 0 && !firstFiles.count(f);
    std::vector<std::string> tmpNew, shmNew;
    for (const std::string& e : Entries("/tmp"))
        if (!tmpBefore.count(e)) tmpNew.push_back(e);
    for (const std::string& e : Entries("/dev/shm"))
        if (!shmBefore.count(e)) shmNew.push_back(e);

    std::printf("cycles: %d\n", cycles);
    std::printf("cycles_clean_exits: %d\n", cleanExits);
    std::printf("cycles_start_to_page_loaded_ms_median: %.0f\n", Median(loadMs));
    std::printf("cycles_stop_to_exit_ms_median: %.0f\n", Median(stopMs));
    std::printf("cycles_stop_to_exit_ms_max: %.0f\n", stopMs.empty() ? 0 : *std::max_element(stopMs.begin(), stopMs.end()));
    std::printf("cycles_leftover_processes: %d\n", leftProcesses);
    qmbench::Figure("soak_leaked_processes", leftProcesses);
    std::printf("cycles_new_files_in_installation: %zu\n", newFiles.size());
    for (const std::string& f : newFiles) std::printf("cycles_new_file: %s\n", f.c_str());
    std::printf("cycles_new_files_in_profile: %zu\n", profileFiles);
    // Other programs of the machine may add entries there too: they are named.
    std::printf("cycles_new_entries_in_tmp: %zu\n", tmpNew.size());
    for (const std::string& e : tmpNew) std::printf("cycles_new_tmp_entry: %s\n", e.c_str());
    std::printf("cycles_new_entries_in_dev_shm: %zu\n", shmNew.size());
    for (const std::string& e : shmNew) std::printf("cycles_new_dev_shm_entry: %s\n", e.c_str());
    return cleanExits == cycles && leftProcesses == 0 && newFiles.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    long commands = argc > 1 ? std::atol(argv[1]) : 100000;
    int cycles = argc > 2 ? std::atoi(argv[2]) : 50;
    if (commands < 0 || cycles < 0 || commands > 10000000 || cycles > 1000) {
        std::fprintf(stderr, "usage: soak_bench [commands <= 10000000] [cycles <= 1000]\n");
        return 2;
    }
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    qmtest::XvfbEnvironment display;
    if (!std::getenv("DISPLAY")) display.SetUp();
    setenv("GDK_BACKEND", "x11", 1);
    int result = 0;
    if (commands > 0) result |= CommandSoak(commands);
    std::fflush(stdout);
    if (cycles > 0) result |= StartStopCycles(cycles);
    if (!qmtest::XvfbEnvironment::display().empty()) display.TearDown();
    return result;
}
