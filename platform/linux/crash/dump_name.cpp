#include "platform/linux/crash/dump_name.h"

#include <cstring>

namespace platform {
namespace crash {

TextBuilder::TextBuilder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
    if (capacity_ > 0) buffer_[0] = '\0';
}

TextBuilder& TextBuilder::Text(const char* text) { return Text(text, std::strlen(text)); }

TextBuilder& TextBuilder::Text(const char* text, size_t length) {
    if (capacity_ == 0) {
        overflowed_ = overflowed_ || length > 0;
        return *this;
    }
    size_t room = capacity_ - 1 - length_;
    if (length > room) {
        length = room;
        overflowed_ = true;
    }
    std::memcpy(buffer_ + length_, text, length);
    length_ += length;
    buffer_[length_] = '\0';
    return *this;
}

TextBuilder& TextBuilder::Number(unsigned long long value, int minDigits) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 20);
    while (n < minDigits && n < 20) digits[n++] = '0';
    char text[24];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    return Text(text, static_cast<size_t>(n));
}

size_t FormatDumpNamePrefix(char* out, const char* exeName, const char* version) {
    size_t versionLength = std::strlen(version);
    size_t fixed = 2 + versionLength + kDumpNameSuffixBytes;  // "_v" + version + suffix
    size_t exeLength = std::strlen(exeName);
    size_t room = fixed < kMaxDumpNameBytes ? kMaxDumpNameBytes - fixed : 0;
    if (exeLength > room) {
        exeLength = room;
        // Do not split a UTF-8 sequence: back up over continuation bytes.
        while (exeLength > 0 && (static_cast<unsigned char>(exeName[exeLength]) & 0xC0) == 0x80) --exeLength;
    }
    TextBuilder text(out, kMaxDumpNameBytes + 1);
    text.Text(exeName, exeLength).Text("_v").Text(version);
    return text.length();
}

size_t FormatDumpName(char* out, size_t capacity, const char* prefix, const CivilTime& time) {
    TextBuilder text(out, capacity);
    text.Text(prefix)
        .Text("_")
        .Number(static_cast<unsigned>(time.year), 4)
        .Number(static_cast<unsigned>(time.month), 2)
        .Number(static_cast<unsigned>(time.day), 2)
        .Text("_")
        .Number(static_cast<unsigned>(time.hour), 2)
        .Text("_")
        .Number(static_cast<unsigned>(time.minute), 2)
        .Text("_")
        .Number(static_cast<unsigned>(time.second), 2)
        .Text(".dmp");
    return text.overflowed() ? 0 : text.length();
}

}  // namespace crash
}  // namespace platform
