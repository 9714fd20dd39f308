#include "platform/linux/crash/sys_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "platform/linux/crash/dump_name.h"

namespace platform {
namespace crash {

long Sys(long number, long a, long b, long c, long d, long e, long f) {
    long r;
    do {
        r = syscall(number, a, b, c, d, e, f);
    } while (r == -1 && errno == EINTR);
    return r;
}

int OpenForReading(const char* path) {
    return static_cast<int>(Sys(SYS_openat, AT_FDCWD, reinterpret_cast<long>(path), O_RDONLY | O_CLOEXEC));
}

void CloseFd(int fd) { syscall(SYS_close, fd); }

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        size_t chunk = size > (size_t(1) << 30) ? size_t(1) << 30 : size;
        long n = Sys(SYS_write, fd, reinterpret_cast<long>(bytes), static_cast<long>(chunk));
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void ProcPath(char* out, size_t capacity, int pid, const char* leaf) {
    TextBuilder(out, capacity).Text("/proc/").Number(static_cast<unsigned>(pid)).Text("/").Text(leaf);
}

}  // namespace crash
}  // namespace platform
