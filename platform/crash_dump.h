// The crash-dump writer: on a fatal signal of any thread it writes a minidump
// into "Dump" beside the executable and lets the process end.
#pragma once

namespace platform {

// Installs the writer for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. Call first thing.
// Programs that call it also link the CMake target qm_crash_thread_stacks, so
// that threads started later get an alternate signal stack (stack overflows).
void InstallCrashDumpWriter();

}  // namespace platform
