#include "bridge/utf8.h"

#include <cstdint>

namespace kxcef {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

// Decodes one code point at p; advances p. Malformed input yields U+FFFD and
// consumes one byte (or the whole surrogate sequence).
std::uint32_t DecodeOne(const unsigned char*& p, const unsigned char* end) {
    unsigned char c = *p++;
    if (c < 0x80) return c;
    int extra;
    std::uint32_t cp;
    std::uint32_t min;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    if (end - p < extra) {
        p = end;
        return kReplacement;
    }
    for (int i = 0; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            p += i;
            return kReplacement;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    p += extra;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsScalar(std::uint32_t cp) { return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF); }

}  // namespace

std::wstring Utf8ToWideLenient(const char* data, size_t size) {
    std::wstring out;
    out.reserve(size);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) out += static_cast<wchar_t>(DecodeOne(p, end));
    return out;
}

std::wstring Utf8ToWideLenient(const std::string& text) { return Utf8ToWideLenient(text.data(), text.size()); }

std::string WideToUtf8Lenient(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        AppendUtf8(out, IsScalar(cp) ? cp : kReplacement);
    }
    return out;
}

std::string SanitizeUtf8(const char* data, size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    // Fast path: plain ASCII and well-formed text pass through as one copy.
    const auto* q = p;
    while (q < end && *q < 0x80) ++q;
    if (q == end) return std::string(data, size);
    std::string out(data, static_cast<size_t>(q - p));
    out.reserve(size);
    while (q < end) AppendUtf8(out, DecodeOne(q, end));
    return out;
}

}  // namespace kxcef
