// What the crash handler hands to the dump writer: the facts gathered at
// install time and the state of the crashed thread.
#pragma once

#include <signal.h>
#include <sys/ucontext.h>

#include <cstdint>

#include "platform/linux/crash/minidump_format.h"

namespace platform {
namespace crash {

// Facts about the machine, worked out when the writer is installed.
struct SystemFacts {
    MdSystemInfo info{};         // csdVersionRva is filled in by the writer
    char csdVersion[256] = {};   // "Linux <release> <version> <machine>"
    char releaseFile[32] = {};   // /etc/lsb-release, else /etc/os-release
};
void CollectSystemFacts(SystemFacts& facts);

// The crashed thread: its registers at the fault and the signal that stopped it.
struct CrashContext {
    int pid = 0;
    int tid = 0;
    int signo = 0;  // 0: a dump taken on request, without an exception
    siginfo_t info{};
    ucontext_t context{};
    std::uint8_t fpState[512] = {};  // FXSAVE image of the thread's FPU/SSE state
    bool hasFpState = false;
    std::uint64_t fsBase = 0;
    std::int64_t utcSeconds = 0;
};

// Writes a minidump of process `crash.pid` to `fd`. Runs in a separate process
// (a copy of the crashed one, made with clone): it stops the crashed process's
// other threads with ptrace, reads their registers and stacks, and releases
// them. Uses only system calls and no heap. False when nothing usable was written.
bool WriteMinidump(int fd, const CrashContext& crash, const SystemFacts& facts);

}  // namespace crash
}  // namespace platform
