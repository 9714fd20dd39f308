// The fatal-signal handler. Everything it needs (paths, the executable's
// version, the time-zone offsets, the machine's facts, a stack for the writer)
// is prepared at install; in the handler only system calls run. The dump itself
// is written by a short-lived copy of the process (see dump_writer.cpp), which
// can stop and read the other threads with ptrace while this thread waits.
#include <asm/prctl.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/crash_dump.h"
#include "platform/linux/crash/crash_context.h"
#include "platform/linux/crash/crash_handler.h"
#include "platform/linux/crash/dump_name.h"
#include "platform/linux/crash/local_time.h"
#include "platform/linux/crash/thread_stacks.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "platform/state_dirs.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/version_note.h"

namespace platform {
namespace crash {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kWriterStackBytes = 1 << 20;
// Local-time offsets are learnt this far ahead (daylight saving changes included).
constexpr int kTimeZoneHorizonDays = 400;
// A thread that crashes while another one writes the dump waits at most this long.
constexpr int kWaitForOtherCrashMs = 60 * 1000;

struct WriterSetup {
    bool ready = false;
    bool installed = false;
    char dumpDirectory[PATH_MAX] = {};
    // The folder that holds the dump folder, opened at install: the handler
    // makes and opens the dump folder relative to it, so no path can be
    // swapped under it, and checks it is this user's (uid) before writing.
    int parentFd = -1;
    char dumpFolderName[NAME_MAX + 1] = {};
    uid_t uid = 0;
    char namePrefix[kMaxDumpNameBytes + 1] = {};
    UtcOffsetTable offsets;
    SystemFacts facts;
    char* writerStackTop = nullptr;
};

WriterSetup g_setup;
CrashContext g_crash;
std::atomic<int> g_dumpingTid{0};

int CurrentTid() { return static_cast<int>(syscall(SYS_gettid)); }

long LocalOffsetAt(std::int64_t t) {
    time_t when = static_cast<time_t>(t);
    struct tm local{};
    if (!localtime_r(&when, &local)) return 0;
    return local.tm_gmtoff;
}

bool PrepareWriterStack() {
    if (g_setup.writerStackTop) return true;
    size_t guard = 4096;
    void* region = mmap(nullptr, guard + kWriterStackBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) return false;
    mprotect(region, guard, PROT_NONE);
    g_setup.writerStackTop = static_cast<char*>(region) + guard + kWriterStackBytes;
    return true;
}

// Facts that do not depend on the executable; also needed for dumps on request.
bool PrepareWriter() {
    if (g_setup.ready) return true;
    if (!PrepareWriterStack()) return false;
    CollectSystemFacts(g_setup.facts);
    g_setup.ready = true;
    return true;
}

void FillTimeAndIds(CrashContext& crash, int signo) {
    crash.pid = static_cast<int>(syscall(SYS_getpid));
    crash.tid = CurrentTid();
    crash.signo = signo;
    unsigned long fsBase = 0;
    if (syscall(SYS_arch_prctl, ARCH_GET_FS, &fsBase) == 0) crash.fsBase = fsBase;
    struct timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    crash.utcSeconds = now.tv_sec;
}

void CopyFpState(CrashContext& crash, const ucontext_t& context) {
    if (context.uc_mcontext.fpregs) {
        std::memcpy(crash.fpState, context.uc_mcontext.fpregs, sizeof(crash.fpState));
        crash.hasFpState = true;
    }
}

// ---------------------------------------------------------------------------
// The writer process.

struct WriterArgs {
    int fd;
    int goFd;
    const CrashContext* crash;
};

int WriterMain(void* raw) {
    const auto* args = static_cast<const WriterArgs*>(raw);
    // A fault in here ends this copy only.
    for (int signo : kFatalSignals) {
        struct sigaction dfl{};
        dfl.sa_handler = SIG_DFL;
        sigaction(signo, &dfl, nullptr);
    }
    char go = 0;
    while (read(args->goFd, &go, 1) < 0 && errno == EINTR) {
    }
    if (go != 'g') return 2;
    bool ok = WriteMinidump(args->fd, *args->crash, g_setup.facts);
    if (ok && fdatasync(args->fd) != 0 && errno != EINVAL) ok = false;
    return ok ? 0 : 1;
}

// Opens the new temporary file `name` in `dirFd`: created exclusively, so
// nothing that stood there (a stale temporary of an earlier crash, or a file
// put there for us to write into) is ever written to.
int CreateTemporary(int dirFd, const char* name) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
        unlinkat(dirFd, name, 0);
    }
    return -1;
}

// Writes the dump into a temporary file in `dirFd` and renames it to `name`,
// so that a reader (or a second crash in the same second) never sees a
// half-written file.
bool WriteDumpFile(const CrashContext& crash, int dirFd, const char* name) {
    char temp[64];
    TextBuilder tempName(temp, sizeof(temp));
    tempName.Text("~").Number(static_cast<unsigned>(crash.pid)).Text(".dmp.tmp");
    if (tempName.overflowed()) return false;
    int fd = CreateTemporary(dirFd, temp);
    if (fd < 0) return false;
    fchmod(fd, 0600);  // whatever the umask: a dump holds the process's memory
    int go[2];
    if (pipe2(go, O_CLOEXEC) != 0) {
        close(fd);
        unlinkat(dirFd, temp, 0);
        return false;
    }

    // The writer may end before reading: no SIGPIPE for us then.
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);

    WriterArgs args{fd, go[0], &crash};
    // No CLONE_VM: the writer works on its own copy of the memory, with the
    // stack prepared at install. No exit signal: the application's SIGCHLD
    // handling never sees it.
    int child = clone(WriterMain, g_setup.writerStackTop, CLONE_UNTRACED, &args);
    bool ok = false;
    if (child > 0) {
        // Where Yama restricts ptrace, allow the writer to attach to us.
        prctl(PR_SET_PTRACER, child, 0, 0, 0);
        ssize_t sent;
        do {
            sent = write(go[1], "g", 1);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0 && errno == EPIPE) {
            struct timespec none{};
            sigtimedwait(&pipeOnly, nullptr, &none);
        }
        int status = 0;
        long waited;
        do {
            waited = syscall(SYS_wait4, child, &status, __WALL, nullptr);
        } while (waited < 0 && errno == EINTR);
        ok = waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        prctl(PR_SET_PTRACER, 0, 0, 0, 0);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(go[0]);
    close(go[1]);
    close(fd);
    if (ok) ok = renameat(dirFd, temp, dirFd, name) == 0;
    if (!ok) unlinkat(dirFd, temp, 0);
    return ok;
}

// The dump folder, made (0700) when missing; -1 unless it is a folder of this
// user's that nobody else can reach. Only system calls: it runs in the handler.
int OpenDumpFolder() {
    if (g_setup.parentFd < 0) return -1;
    mkdirat(g_setup.parentFd, g_setup.dumpFolderName, 0700);  // an existing folder is fine
    int fd = openat(g_setup.parentFd, g_setup.dumpFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st{};
    bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == g_setup.uid &&
              ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

void WriteCrashDump() {
    // A process that gave up its dumpable flag refuses ptrace and /proc reads
    // even to its own copy.
    if (prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0) prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);

    CivilTime local = CivilFromSeconds(g_crash.utcSeconds + g_setup.offsets.OffsetAt(g_crash.utcSeconds));
    char name[kMaxDumpNameBytes + 1];
    if (FormatDumpName(name, sizeof(name), g_setup.namePrefix, local) == 0) return;
    int dirFd = OpenDumpFolder();
    if (dirFd < 0) return;
    WriteDumpFile(g_crash, dirFd, name);
    close(dirFd);
}

// Lets the process end with the signal that stopped it: the default action is
// restored and the signal sent again to this thread; it is delivered as soon
// as the handler returns and unblocks it.
void EndWithSignal(int signo) {
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signo, &dfl, nullptr);
    syscall(SYS_tgkill, syscall(SYS_getpid), CurrentTid(), signo);
}

void OnFatalSignal(int signo, siginfo_t* info, void* raw) {
    int savedErrno = errno;
    int tid = CurrentTid();
    int expected = 0;
    if (g_dumpingTid.compare_exchange_strong(expected, tid)) {
        FillTimeAndIds(g_crash, signo);
        if (info) g_crash.info = *info;
        if (raw) {
            const auto* context = static_cast<const ucontext_t*>(raw);
            std::memcpy(&g_crash.context, context, sizeof(ucontext_t));
            CopyFpState(g_crash, *context);
        }
        WriteCrashDump();
    } else if (expected != tid) {
        // Another thread writes the dump and then ends the process.
        struct timespec tick{0, 10 * 1000 * 1000};
        for (int waited = 0; waited < kWaitForOtherCrashMs; waited += 10) nanosleep(&tick, nullptr);
    }
    EndWithSignal(signo);
    errno = savedErrno;
}

// Names the program's dump folder to its child processes.
const char kDumpDirectoryVariable[] = "QM_DUMP_DIR";

// Dumps of `modulePath` go to `directory`, named after the module and its version.
void Install(const std::wstring& modulePath, const std::string& directory) {
    if (directory.size() + 1 + kMaxDumpNameBytes >= PATH_MAX) return;
    std::string parent = NativePath(DirPart(FromNativePath(directory)));
    std::string leaf = NativePath(FilePart(FromNativePath(directory)));
    if (parent.empty() || leaf.empty() || leaf.size() > NAME_MAX) return;
    int parentFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) return;
    std::memcpy(g_setup.dumpDirectory, directory.c_str(), directory.size() + 1);
    std::memcpy(g_setup.dumpFolderName, leaf.c_str(), leaf.size() + 1);
    g_setup.parentFd = parentFd;
    g_setup.uid = geteuid();
    std::string version = WideToUtf8(FileVersionString(modulePath));
    FormatDumpNamePrefix(g_setup.namePrefix, NativePath(FilePart(modulePath)).c_str(), version.c_str());

    tzset();
    g_setup.offsets.Build(static_cast<std::int64_t>(time(nullptr)), kTimeZoneHorizonDays, LocalOffsetAt);
    if (!PrepareWriter()) return;
    EnsureAltStackForThisThread();

    struct sigaction action{};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signo : kFatalSignals) sigaddset(&action.sa_mask, signo);
    sigaddset(&action.sa_mask, SIGPIPE);
    for (int signo : kFatalSignals) sigaction(signo, &action, nullptr);
    g_setup.installed = true;
}

}  // namespace

bool WriteDumpOfThisProcess(const char* path) {
    if (!PrepareWriter()) return false;
    std::string directory = NativePath(DirPart(FromNativePath(path)));
    std::string name = NativePath(FilePart(FromNativePath(path)));
    if (directory.empty()) directory = ".";
    CrashContext request;
    FillTimeAndIds(request, 0);
    if (getcontext(&request.context) != 0) return false;
    CopyFpState(request, request.context);
    int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    bool ok = WriteDumpFile(request, dirFd, name.c_str());
    close(dirFd);
    return ok;
}

const char* InstalledDumpDirectory() { return g_setup.dumpDirectory; }
const char* InstalledDumpNamePrefix() { return g_setup.namePrefix; }

}  // namespace crash

void InstallCrashDumpWriter() {
    using namespace crash;
    if (g_setup.installed) return;
    std::wstring exe = ExecutablePath();
    if (exe.empty()) return;  // nowhere to write: the process ends as it would anyway
    const StateDirs& dirs = ProcessStateDirs();
    // The handler makes only the dump folder itself: the folder above it is
    // made (and, when it is the client's own, made private) now. Dumps of an
    // older run are narrowed to this user now too.
    if (!dirs.PrepareFolder(DirPart(dirs.dumpDir), nullptr)) return;
    if (DirectoryExists(dirs.dumpDir) && !dirs.PrepareFolder(dirs.dumpDir, nullptr)) return;
    std::string directory = NativePath(dirs.dumpDir);
    Install(exe, directory);
    if (g_setup.installed) SetEnv(kDumpDirectoryVariable, directory);
}

bool InstallCrashDumpWriterInChild(const void* moduleAddress) {
    using namespace crash;
    if (g_setup.installed) return true;
    std::string directory = GetEnv(kDumpDirectoryVariable);
    std::wstring module = ModulePathOf(moduleAddress);
    if (directory.empty() || module.empty()) return false;
    Install(module, directory);
    return g_setup.installed;
}

}  // namespace platform
