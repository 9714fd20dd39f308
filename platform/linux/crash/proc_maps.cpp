#include "platform/linux/crash/proc_maps.h"

namespace platform {
namespace crash {
namespace {

// Reads hexadecimal digits; false when there are none.
bool ParseHex(const char*& p, const char* end, std::uint64_t& value) {
    value = 0;
    const char* begin = p;
    while (p < end) {
        char c = *p;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = (value << 4) | digit;
        ++p;
    }
    return p > begin && p - begin <= 16;
}

bool ParseDecimal(const char*& p, const char* end, std::uint64_t& value) {
    value = 0;
    const char* begin = p;
    while (p < end && *p >= '0' && *p <= '9') value = value * 10 + static_cast<unsigned>(*p++ - '0');
    return p > begin && p - begin <= 20;
}

bool Expect(const char*& p, const char* end, char c) {
    if (p >= end || *p != c) return false;
    ++p;
    return true;
}

void SkipBlanks(const char*& p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
}

}  // namespace

bool ParseMapsLine(const char* line, size_t length, Mapping& out) {
    const char* p = line;
    const char* end = line + length;
    Mapping m;
    std::uint64_t major = 0, minor = 0;
    if (!ParseHex(p, end, m.start) || !Expect(p, end, '-') || !ParseHex(p, end, m.end) || !Expect(p, end, ' '))
        return false;
    if (end - p < 4) return false;
    m.readable = p[0] == 'r';
    m.writable = p[1] == 'w';
    m.executable = p[2] == 'x';
    p += 4;
    if (!Expect(p, end, ' ') || !ParseHex(p, end, m.offset) || !Expect(p, end, ' ')) return false;
    if (!ParseHex(p, end, major) || !Expect(p, end, ':') || !ParseHex(p, end, minor) || !Expect(p, end, ' '))
        return false;
    if (!ParseDecimal(p, end, m.inode)) return false;
    if (m.end < m.start) return false;
    m.devMajor = static_cast<std::uint32_t>(major);
    m.devMinor = static_cast<std::uint32_t>(minor);
    SkipBlanks(p, end);
    m.path = p;
    m.pathLength = static_cast<size_t>(end - p);
    out = m;
    return true;
}

size_t ParseMaps(const char* text, size_t size, Mapping* out, size_t capacity) {
    size_t count = 0;
    size_t pos = 0;
    while (pos < size && count < capacity) {
        size_t lineEnd = pos;
        while (lineEnd < size && text[lineEnd] != '\n') ++lineEnd;
        if (ParseMapsLine(text + pos, lineEnd - pos, out[count])) ++count;
        pos = lineEnd + 1;
    }
    return count;
}

size_t FirstMappingEndingAbove(const Mapping* mappings, size_t count, std::uint64_t address) {
    size_t lo = 0, hi = count;
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (mappings[mid].end <= address)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

const Mapping* FindMapping(const Mapping* mappings, size_t count, std::uint64_t address) {
    size_t i = FirstMappingEndingAbove(mappings, count, address);
    if (i < count && mappings[i].Contains(address)) return &mappings[i];
    return nullptr;
}

bool NextModuleSpan(const Mapping* mappings, size_t count, size_t from, ModuleSpan& span, size_t& next) {
    for (size_t i = from; i < count; ++i) {
        const Mapping& head = mappings[i];
        if (!head.IsFile() || head.offset != 0) continue;
        span.first = i;
        span.base = head.start;
        span.end = head.end;
        size_t j = i + 1;
        // Later segments of the same file; anonymous mappings (.bss) may sit
        // between them.
        for (size_t k = i + 1; k < count; ++k) {
            if (mappings[k].SameFile(head)) {
                if (mappings[k].offset == 0) break;  // the same file loaded again
                span.end = mappings[k].end;
                j = k + 1;
            } else if (mappings[k].IsFile()) {
                break;
            }
        }
        next = j;
        return true;
    }
    next = count;
    return false;
}

}  // namespace crash
}  // namespace platform
