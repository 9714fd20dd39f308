#include "platform/linux/crash/process_memory.h"

#include <sys/syscall.h>
#include <sys/uio.h>

#include <cstring>

#include "platform/linux/crash/raw_memory.h"
#include "platform/linux/crash/sys_calls.h"

namespace platform {
namespace crash {
namespace {

long Copy(int pid, std::uint64_t address, void* out, size_t length) {
    struct iovec local = {out, length};
    struct iovec remote = {reinterpret_cast<void*>(address), length};
    return Sys(SYS_process_vm_readv, pid, reinterpret_cast<long>(&local), 1, reinterpret_cast<long>(&remote), 1, 0);
}

}  // namespace

ProcessMemory::ProcessMemory(int pid) : pid_(pid), self_(static_cast<int>(Sys(SYS_getpid))) {}

bool ProcessMemory::Read(std::uint64_t address, void* out, size_t length) const {
    if (length == 0) return false;
    if (Copy(pid_, address, out, length) == static_cast<long>(length)) return true;
    // Page by page, from the crashed process or from the copy.
    bool any = false;
    auto* dst = static_cast<std::uint8_t*>(out);
    std::uint64_t pos = address;
    std::uint64_t end = address + length;
    while (pos < end) {
        std::uint64_t pageEnd = (pos & ~std::uint64_t(kPageBytes - 1)) + kPageBytes;
        size_t chunk = static_cast<size_t>((pageEnd < end ? pageEnd : end) - pos);
        std::uint8_t* to = dst + (pos - address);
        if (Copy(pid_, pos, to, chunk) == static_cast<long>(chunk) || Copy(self_, pos, to, chunk) == static_cast<long>(chunk))
            any = true;
        else
            std::memset(to, 0, chunk);
        pos += chunk;
    }
    return any;
}

}  // namespace crash
}  // namespace platform
