// A shared library that faults when asked to: the crash must still be dumped
// with the library in the module list and its function in the backtrace.
#include <cstdint>
#include <cstdio>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
volatile int* volatile g_badAddress = reinterpret_cast<volatile int*>(std::uintptr_t{0x20});
}

extern "C" __attribute__((visibility("default"), noinline, noclone, no_sanitize("address", "undefined"))) void
QmCrashPluginFault() {
    char line[96];
    int n = std::snprintf(line, sizeof(line), "tid=%ld fn=%p\n", static_cast<long>(syscall(SYS_gettid)),
                          reinterpret_cast<const void*>(&QmCrashPluginFault));
    if (write(1, line, static_cast<size_t>(n)) < 0) _exit(90);
    *g_badAddress = 3;
}
