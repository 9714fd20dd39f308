// The dump file's name, "<exe>_v<version>_YYYYMMDD_HH_MM_SS.dmp", built into
// fixed buffers so that a signal handler can do it.
#pragma once

#include <cstddef>

#include "platform/linux/crash/local_time.h"

namespace platform {
namespace crash {

// Appends text and zero-padded numbers to a caller-owned buffer, always leaving
// it NUL-terminated; text that does not fit is cut and `overflowed()` says so.
class TextBuilder {
public:
    TextBuilder(char* buffer, size_t capacity);
    TextBuilder& Text(const char* text);
    TextBuilder& Text(const char* text, size_t length);
    TextBuilder& Number(unsigned long long value, int minDigits = 1);
    size_t length() const { return length_; }
    bool overflowed() const { return overflowed_; }

private:
    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
    bool overflowed_ = false;
};

// Longest file name the file system takes.
constexpr size_t kMaxDumpNameBytes = 255;
// Length of "_YYYYMMDD_HH_MM_SS.dmp".
constexpr size_t kDumpNameSuffixBytes = 22;

// "<exeName>_v<version>" with the executable's name shortened (at a UTF-8
// character boundary) so that the whole dump name stays within kMaxDumpNameBytes.
// Returns the length written (the buffer must hold kMaxDumpNameBytes + 1).
size_t FormatDumpNamePrefix(char* out, const char* exeName, const char* version);

// prefix + "_YYYYMMDD_HH_MM_SS.dmp". Returns the length, 0 when it does not fit.
size_t FormatDumpName(char* out, size_t capacity, const char* prefix, const CivilTime& time);

}  // namespace crash
}  // namespace platform
