// The crash-dump writer: on a fatal signal of any thread it writes a minidump
// into "Dump" beside the executable and lets the process end.
#pragma once

namespace platform {

// Installs the writer for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. Call first thing.
void InstallCrashDumpWriter();

}  // namespace platform
