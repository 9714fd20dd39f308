// System calls for the code that runs after a crash: made directly (no locks,
// no heap, nothing the crashed process may have left half-done) and retried
// when a signal interrupts them.
#pragma once

#include <cstddef>

namespace platform {
namespace crash {

// syscall(2), retried on EINTR; -1 with errno set on failure.
long Sys(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0);

int OpenForReading(const char* path);
void CloseFd(int fd);
bool WriteAll(int fd, const void* data, size_t size);

// "/proc/<pid>/<leaf>" into `out`.
void ProcPath(char* out, size_t capacity, int pid, const char* leaf);

}  // namespace crash
}  // namespace platform
