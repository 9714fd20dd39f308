// The crash-dump writer: on a fatal signal of any thread it writes a minidump
// into the dump folder (platform/state_dirs.h: "Dump" beside the executable
// while its folder is writable) and lets the process end.
#pragma once

namespace platform {

// Installs the writer for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. Call first thing.
// Programs that call it also link the CMake target qm_crash_thread_stacks, so
// that threads started later get an alternate signal stack (stack overflows).
// The dump folder it chose is handed down to the program's child processes.
void InstallCrashDumpWriter();

// The writer in a child process of such a program that runs our code only as a
// loaded module (the engine's web processes): dumps go to the program's dump
// folder and are named after the module that contains `moduleAddress` and its
// version ("qm_main_render.so_v1.0.9.1_..."), so that they never pass for the
// program's own. Fault handlers installed after it (the engine's) see every
// fault first and pass on only those they do not handle. False when the
// program's dump folder is unknown (nothing is installed then).
bool InstallCrashDumpWriterInChild(const void* moduleAddress);

}  // namespace platform
