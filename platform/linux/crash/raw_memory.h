// Memory for the code that runs after a crash: pages straight from the
// kernel, never the heap (the crashed process may have died inside malloc).
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace platform {
namespace crash {

constexpr size_t kPageBytes = 4096;

inline size_t RoundUp(size_t value, size_t to) { return (value + to - 1) / to * to; }

// Zeroed pages, or nullptr.
void* MapPages(size_t bytes);

// A fixed-size array of T in its own pages.
template <typename T>
class PageArray {
public:
    PageArray() = default;
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    ~PageArray() {
        if (data_) munmap(data_, bytes_);
    }
    bool Allocate(size_t count) {
        bytes_ = RoundUp(count * sizeof(T) + 1, kPageBytes);
        data_ = static_cast<T*>(MapPages(bytes_));
        capacity_ = data_ ? count : 0;
        return data_ != nullptr;
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t capacity() const { return capacity_; }

private:
    T* data_ = nullptr;
    size_t bytes_ = 0;
    size_t capacity_ = 0;
};

// A file being built in memory: grows with mremap; new bytes are zero;
// offsets stay valid when it moves, pointers do not.
class DumpBuffer {
public:
    // Offsets in a minidump are 32-bit.
    static constexpr size_t kMaxBytes = size_t(1) << 31;

    DumpBuffer() = default;
    DumpBuffer(const DumpBuffer&) = delete;
    DumpBuffer& operator=(const DumpBuffer&) = delete;
    ~DumpBuffer();

    // Room for `extra` more bytes.
    bool Reserve(size_t extra);
    // Zeroed room for `bytes` at the next multiple of `align`; its offset, or
    // 0 when the buffer cannot grow (offset 0 holds the file header).
    std::uint32_t Allocate(size_t bytes, size_t align = 4);
    std::uint32_t Append(const void* data, size_t bytes, size_t align = 4);
    // Drops everything from `newSize` on (the end of the last allocation).
    void Shrink(size_t newSize);

    template <typename T>
    T* At(std::uint32_t offset) {
        return reinterpret_cast<T*>(data_ + offset);
    }
    // Writing straight into the reserved tail, then committing what was written.
    std::uint8_t* Tail() { return data_ + size_; }
    void Commit(size_t bytes) { size_ += bytes; }

    size_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

private:
    std::uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// A whole text file (a /proc file, which has no size) read into its own pages.
class TextFile {
public:
    static constexpr size_t kMaxBytes = 16 << 20;

    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    ~TextFile();

    bool Read(const char* path);
    const char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace crash
}  // namespace platform
