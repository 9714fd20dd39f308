#include "platform/linux/crash/raw_memory.h"

#include <sys/syscall.h>

#include <cstring>

#include "platform/linux/crash/sys_calls.h"

namespace platform {
namespace crash {

void* MapPages(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

DumpBuffer::~DumpBuffer() {
    if (data_) munmap(data_, capacity_);
}

bool DumpBuffer::Reserve(size_t extra) {
    if (size_ + extra <= capacity_) return true;
    if (size_ + extra > kMaxBytes) return false;
    size_t wanted = RoundUp(size_ + extra, 1 << 20);
    if (wanted < capacity_ * 2) wanted = capacity_ * 2;
    if (wanted > kMaxBytes) wanted = kMaxBytes;
    void* p = data_ ? mremap(data_, capacity_, wanted, MREMAP_MAYMOVE) : MapPages(wanted);
    if (p == MAP_FAILED || p == nullptr) return false;
    data_ = static_cast<std::uint8_t*>(p);
    capacity_ = wanted;
    return true;
}

std::uint32_t DumpBuffer::Allocate(size_t bytes, size_t align) {
    size_t start = RoundUp(size_, align);
    if (!Reserve(start - size_ + bytes)) return 0;
    size_ = start + bytes;
    return static_cast<std::uint32_t>(start);
}

std::uint32_t DumpBuffer::Append(const void* data, size_t bytes, size_t align) {
    std::uint32_t at = Allocate(bytes, align);
    if (at) std::memcpy(data_ + at, data, bytes);
    return at;
}

void DumpBuffer::Shrink(size_t newSize) {
    if (newSize >= size_) return;
    std::memset(data_ + newSize, 0, size_ - newSize);
    size_ = newSize;
}

TextFile::~TextFile() {
    if (data_) munmap(data_, capacity_);
}

bool TextFile::Read(const char* path) {
    int fd = OpenForReading(path);
    if (fd < 0) return false;
    bool ok = true;
    for (;;) {
        if (size_ + kPageBytes > capacity_) {
            size_t wanted = capacity_ ? capacity_ * 2 : 64 * 1024;
            if (wanted > kMaxBytes) break;
            void* p = data_ ? mremap(data_, capacity_, wanted, MREMAP_MAYMOVE) : MapPages(wanted);
            if (p == MAP_FAILED || p == nullptr) break;
            data_ = static_cast<char*>(p);
            capacity_ = wanted;
        }
        long n = Sys(SYS_read, fd, reinterpret_cast<long>(data_ + size_), static_cast<long>(capacity_ - size_));
        if (n < 0) ok = size_ > 0;
        if (n <= 0) break;
        size_ += static_cast<size_t>(n);
    }
    CloseFd(fd);
    return ok;
}

}  // namespace crash
}  // namespace platform
