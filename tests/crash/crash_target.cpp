// A small program that installs the crash-dump writer and then fails in the
// way its arguments ask for. Before failing it prints "tid=<thread id>
// fn=<address of the failing function>" so that tests can check the dump.
//
//   crash_target [at <epoch ms>] [no-ptrace] [sigchld-ignored] <mode> [argument]
//   modes: segv-main, segv-worker, plugin <library>, abort, fpe, ill, bus,
//          raise-segv, threads <count>, overflow-main, overflow-worker,
//          two-threads, dump-now <path> [threads]
//   no-ptrace: ptrace and reading this process from another one are refused
//   (as under a strict Yama policy); sigchld-ignored: SIGCHLD is set to SIG_IGN.
#include <dlfcn.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/crash_dump.h"
#include "platform/linux/crash/crash_handler.h"
#include "tests/crash/idle_threads.h"

#define QM_NO_SANITIZE __attribute__((noinline, noclone, no_sanitize("address", "undefined")))

namespace {

void Report(const void* function) {
    char line[96];
    int n = std::snprintf(line, sizeof(line), "tid=%ld fn=%p\n", static_cast<long>(syscall(SYS_gettid)), function);
    if (write(1, line, static_cast<size_t>(n)) < 0) _exit(90);
}

volatile int* volatile g_badAddress = reinterpret_cast<volatile int*>(std::uintptr_t{0x10});
volatile int g_zero = 0;
volatile int g_sink = 0;

}  // namespace

extern "C" {

QM_NO_SANITIZE void QmCrashTestSegvMain() {
    Report(reinterpret_cast<const void*>(&QmCrashTestSegvMain));
    *g_badAddress = 1;
}

QM_NO_SANITIZE void QmCrashTestSegvWorker() {
    Report(reinterpret_cast<const void*>(&QmCrashTestSegvWorker));
    *g_badAddress = 2;
}

QM_NO_SANITIZE void QmCrashTestAbort() {
    Report(reinterpret_cast<const void*>(&QmCrashTestAbort));
    std::abort();
}

QM_NO_SANITIZE void QmCrashTestDivide() {
    Report(reinterpret_cast<const void*>(&QmCrashTestDivide));
    g_sink = 100 / g_zero;
}

QM_NO_SANITIZE void QmCrashTestIllegal() {
    Report(reinterpret_cast<const void*>(&QmCrashTestIllegal));
    __builtin_trap();
}

QM_NO_SANITIZE void QmCrashTestBusError() {
    int fd = static_cast<int>(syscall(SYS_memfd_create, "crash_target", 0));
    if (fd < 0 || ftruncate(fd, 4096) != 0) _exit(91);
    auto* pages = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (pages == MAP_FAILED) _exit(92);
    Report(reinterpret_cast<const void*>(&QmCrashTestBusError));
    pages[4096 + 8] = 1;  // beyond the end of the file
}

QM_NO_SANITIZE void QmCrashTestRaise() {
    Report(reinterpret_cast<const void*>(&QmCrashTestRaise));
    raise(SIGSEGV);
}

QM_NO_SANITIZE int QmCrashTestRecurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) Report(reinterpret_cast<const void*>(&QmCrashTestRecurse));
    if (g_zero == 0) return QmCrashTestRecurse(depth + 1) + frame[0];
    return frame[0];
}

}  // extern "C"

namespace {

void SleepUntil(long long epochMs) {
    for (int i = 0; i < 10000; ++i) {
        long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        if (now >= epochMs) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(epochMs - now > 5 ? 5 : 1));
    }
}


// Refuses ptrace, and process_vm_readv aimed at this process, with EPERM.
bool RefusePtrace() {
    const unsigned self = static_cast<unsigned>(getpid());
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ptrace, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_process_vm_readv, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, self, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof(code) / sizeof(code[0])), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: crash_target [at <epoch ms>] <mode> [argument]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    platform::InstallCrashDumpWriter();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "at") {
        SleepUntil(std::atoll(args[1].c_str()));
        args.erase(args.begin(), args.begin() + 2);
    }
    if (!args.empty() && args[0] == "no-ptrace") {
        if (!RefusePtrace()) return 6;
        args.erase(args.begin());
    }
    if (!args.empty() && args[0] == "sigchld-ignored") {
        std::signal(SIGCHLD, SIG_IGN);
        args.erase(args.begin());
    }
    if (args.empty()) return Usage();
    const std::string& mode = args[0];
    std::string argument = args.size() > 1 ? args[1] : "";

    if (mode == "segv-main") QmCrashTestSegvMain();
    if (mode == "segv-worker") std::thread(QmCrashTestSegvWorker).join();
    if (mode == "abort") QmCrashTestAbort();
    if (mode == "fpe") QmCrashTestDivide();
    if (mode == "ill") QmCrashTestIllegal();
    if (mode == "bus") QmCrashTestBusError();
    if (mode == "raise-segv") QmCrashTestRaise();
    if (mode == "overflow-main") QmCrashTestRecurse(0);
    if (mode == "overflow-worker") std::thread([] { QmCrashTestRecurse(0); }).join();
    if (mode == "plugin") {
        void* library = dlopen(argument.c_str(), RTLD_NOW);
        if (!library) {
            std::fprintf(stderr, "%s\n", dlerror());
            return 3;
        }
        auto fault = reinterpret_cast<void (*)()>(dlsym(library, "QmCrashPluginFault"));
        if (!fault) return 4;
        fault();
    }
    if (mode == "threads") {
        qmtest::IdleThreads idle(std::atoi(argument.c_str()) - 1, 4);
        QmCrashTestSegvMain();
    }
    if (mode == "two-threads") {
        // Both fail at once; the first one writes the dump.
        std::atomic<int> waiting{2};
        auto crash = [&waiting] {
            --waiting;
            for (int i = 0; i < 1000000 && waiting.load() > 0; ++i) std::this_thread::yield();
            QmCrashTestSegvWorker();
        };
        std::thread a(crash), b(crash);
        a.join();
        b.join();
    }
    if (mode == "dump-now") {
        qmtest::IdleThreads idle(args.size() > 2 ? std::atoi(args[2].c_str()) - 1 : 0, 4);
        return platform::crash::WriteDumpOfThisProcess(argument.c_str()) ? 0 : 5;
    }
    return Usage();
}
