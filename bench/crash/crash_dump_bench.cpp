// How long the crash-dump writer keeps a crashing process alive, and how big
// its dumps are. The program runs itself as the crashing child: the child
// notes the monotonic time just before it faults, the parent the time at which
// the child has ended; the difference is handler + dump + process end.
//
//   bench_crash_dump [runs]
#include <dlfcn.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/figures.h"
#include "platform/crash_dump.h"
#include "platform/linux/crash/crash_handler.h"
#include "tests/crash/idle_threads.h"

namespace {

constexpr int kThreads = 30;

long long MonotonicNs() {
    struct timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}


volatile int* volatile g_bad = reinterpret_cast<volatile int*>(std::uintptr_t{0x10});

__attribute__((noinline, no_sanitize("address", "undefined"))) void Fault(int timeFd) {
    char text[32];
    int n = std::snprintf(text, sizeof(text), "%lld", MonotonicNs());
    if (write(timeFd, text, static_cast<size_t>(n)) < 0) _exit(3);
    close(timeFd);
    *g_bad = 1;
}

int RunChild(int timeFd, bool withToolkit) {
    platform::InstallCrashDumpWriter();
    // The toolkit brings the number of loaded libraries to a client's.
    if (withToolkit && !dlopen("libgtk-3.so.0", RTLD_NOW)) return 4;
    qmtest::IdleThreads idle(kThreads - 1, 8);
    Fault(timeFd);
    return 5;
}

struct Sample {
    double ms;
    long long bytes;
};

long long DumpSize(const std::string& dir) {
    long long size = -1;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            struct stat st{};
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0 &&
                stat((dir + "/" + name).c_str(), &st) == 0)
                size = st.st_size;
            if (name[0] != '.') unlink((dir + "/" + name).c_str());
        }
        closedir(d);
    }
    return size;
}

bool CrashOnce(const std::string& exe, const std::string& dumpDir, bool withToolkit, Sample& sample) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        execl(exe.c_str(), exe.c_str(), "child", fd.c_str(), withToolkit ? "toolkit" : "plain", nullptr);
        _exit(127);
    }
    close(fds[1]);
    char text[32] = {};
    ssize_t n = read(fds[0], text, sizeof(text) - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long end = MonotonicNs();
    if (n <= 0 || !WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV) return false;
    sample.ms = (end - std::atoll(text)) / 1e6;
    sample.bytes = DumpSize(dumpDir);
    return sample.bytes > 0;
}

// Prints the figures; returns the median time (0 without samples).
double Report(const char* what, std::vector<Sample> samples) {
    if (samples.empty()) {
        std::printf("%-44s no samples\n", what);
        return 0;
    }
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
    std::printf("%-44s median %7.1f ms  max %7.1f ms  dump %7.1f KiB  (%zu runs)\n", what,
                samples[samples.size() / 2].ms, samples.back().ms, samples[samples.size() / 2].bytes / 1024.0,
                samples.size());
    return samples[samples.size() / 2].ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "child") == 0) return RunChild(std::atoi(argv[2]), std::strcmp(argv[3], "toolkit") == 0);
    int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 15;

    // A private copy of this program, so that its Dump folder is private too.
    char tmpl[] = "/tmp/qm_crash_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::string exe = dir + "/bench_crash_dump";
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (len <= 0) return 1;
    self[len] = '\0';
    if (link(self, exe.c_str()) != 0 && symlink(self, exe.c_str()) != 0) return 1;

    std::printf("crash-dump writer, process with %d threads\n", kThreads);
    for (bool toolkit : {false, true}) {
        std::vector<Sample> samples;
        for (int i = 0; i < runs; ++i) {
            Sample s{};
            if (CrashOnce(exe, dir + "/Dump", toolkit, s)) samples.push_back(s);
        }
        double median = Report(toolkit ? "crash to process end, GTK loaded:" : "crash to process end:", samples);
        if (!toolkit && median > 0) qmbench::Figure("crash_dump_ms", median);
    }

    // In-process figure: the writer alone, without the process end.
    {
        qmtest::IdleThreads idle(kThreads - 1, 8);
        std::vector<Sample> samples;
        for (int i = 0; i < runs; ++i) {
            std::string path = dir + "/now.dmp";
            long long start = MonotonicNs();
            bool ok = platform::crash::WriteDumpOfThisProcess(path.c_str());
            long long end = MonotonicNs();
            struct stat st{};
            if (ok && stat(path.c_str(), &st) == 0) samples.push_back({(end - start) / 1e6, st.st_size});
            unlink(path.c_str());
        }
        Report("dump on request (writer only):", samples);
    }

    unlink(exe.c_str());
    rmdir((dir + "/Dump").c_str());
    rmdir(dir.c_str());
    return 0;
}
