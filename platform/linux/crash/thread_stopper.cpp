#include "platform/linux/crash/thread_stopper.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/crash/sys_calls.h"

namespace platform {
namespace crash {
namespace {

volatile sig_atomic_t g_stopTimedOut = 0;
void OnStopTimeout(int) { g_stopTimedOut = 1; }

// Thread ids of the process, from /proc/<pid>/task.
size_t ListThreads(int pid, int* out, size_t capacity) {
    char path[64];
    ProcPath(path, sizeof(path), pid, "task");
    int fd = static_cast<int>(
        Sys(SYS_openat, AT_FDCWD, reinterpret_cast<long>(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) return 0;
    size_t count = 0;
    alignas(8) char entries[4096];
    for (;;) {
        long n = Sys(SYS_getdents64, fd, reinterpret_cast<long>(entries), sizeof(entries));
        if (n <= 0) break;
        for (long pos = 0; pos < n;) {
            auto* entry = reinterpret_cast<struct dirent64*>(entries + pos);
            const char* name = entry->d_name;
            if (name[0] >= '0' && name[0] <= '9' && count < capacity) {
                int tid = 0;
                for (const char* c = name; *c >= '0' && *c <= '9'; ++c) tid = tid * 10 + (*c - '0');
                out[count++] = tid;
            }
            pos += entry->d_reclen;
        }
    }
    CloseFd(fd);
    return count;
}

long Ptrace(long request, int tid, long data = 0) { return Sys(SYS_ptrace, request, tid, 0, data); }

}  // namespace

size_t ThreadStopper::Stop(int pid, int skipTid) {
    if (!threads_.Allocate(kMaxThreads) || !tids_.Allocate(kMaxThreads)) return 0;
    for (int pass = 0; pass < 2; ++pass) {
        size_t listed = ListThreads(pid, tids_.data(), tids_.capacity());
        for (size_t i = 0; i < listed && count_ < threads_.capacity(); ++i) {
            int tid = tids_[i];
            bool known = tid == skipTid;
            for (size_t k = 0; k < count_ && !known; ++k) known = threads_[k].tid == tid;
            if (known) continue;
            StoppedThread& t = threads_[count_++];
            std::memset(&t, 0, sizeof(t));
            t.tid = tid;
            // SEIZE + INTERRUPT stops the thread without a SIGSTOP that could
            // outlive the writer.
            t.seized = Ptrace(PTRACE_SEIZE, tid) == 0;
            if (t.seized && Ptrace(PTRACE_INTERRUPT, tid) != 0) {
                Ptrace(PTRACE_DETACH, tid);
                t.seized = false;
            }
        }
    }

    struct sigaction onAlarm{};
    onAlarm.sa_handler = OnStopTimeout;  // no SA_RESTART: the wait below is interrupted
    sigaction(SIGALRM, &onAlarm, nullptr);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kStopTimeoutSeconds);
    for (size_t i = 0; i < count_; ++i) {
        StoppedThread& t = threads_[i];
        if (!t.seized) continue;
        int status = 0;
        long r = syscall(SYS_wait4, t.tid, &status, __WALL | (g_stopTimedOut ? WNOHANG : 0), nullptr);
        if (r != t.tid || !WIFSTOPPED(status)) continue;
        t.stopped = Ptrace(PTRACE_GETREGS, t.tid, reinterpret_cast<long>(&t.regs)) == 0;
        t.hasFpregs = Ptrace(PTRACE_GETFPREGS, t.tid, reinterpret_cast<long>(&t.fpregs)) == 0;
    }
    alarm(0);
    return count_;
}

void ThreadStopper::Release() {
    for (size_t i = 0; i < count_; ++i)
        if (threads_[i].seized) Ptrace(PTRACE_DETACH, threads_[i].tid);
    count_ = 0;
}

}  // namespace crash
}  // namespace platform
