#include "platform/text.h"

#include <errno.h>
#include <iconv.h>

#include <cwctype>
#include <memory>

namespace platform {
namespace {

// iconv descriptors are not thread-safe: one pair per thread, opened once.
class AnsiCodec {
public:
    AnsiCodec()
        : toWide_(iconv_open("WCHAR_T", "GBK")), fromWide_(iconv_open("GBK", "WCHAR_T")) {}
    ~AnsiCodec() {
        if (toWide_ != kInvalid) iconv_close(toWide_);
        if (fromWide_ != kInvalid) iconv_close(fromWide_);
    }

    bool Decode(const std::string& in, std::wstring& out) {
        if (toWide_ == kInvalid) return false;
        iconv(toWide_, nullptr, nullptr, nullptr, nullptr);
        out.assign(in.size(), L'\0');
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char* dst = reinterpret_cast<char*>(&out[0]);
        size_t dstLeft = out.size() * sizeof(wchar_t);
        if (iconv(toWide_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
        out.resize(out.size() - dstLeft / sizeof(wchar_t));
        return true;
    }

    // Characters GBK cannot represent become '?', as the Windows conversion
    // without flags substitutes the code page's default character.
    bool Encode(const std::wstring& in, std::string& out) {
        if (fromWide_ == kInvalid) return false;
        iconv(fromWide_, nullptr, nullptr, nullptr, nullptr);
        out.assign(in.size() * 2 + 4, '\0');
        char* src = reinterpret_cast<char*>(const_cast<wchar_t*>(in.data()));
        size_t srcLeft = in.size() * sizeof(wchar_t);
        size_t used = 0;
        while (srcLeft > 0) {
            char* dst = &out[used];
            size_t dstLeft = out.size() - used;
            size_t r = iconv(fromWide_, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
            } else if (errno == EILSEQ || errno == EINVAL) {
                if (used + 1 > out.size()) out.resize(out.size() * 2);
                out[used++] = '?';
                src += sizeof(wchar_t);
                srcLeft -= sizeof(wchar_t);
                iconv(fromWide_, nullptr, nullptr, nullptr, nullptr);
            } else {
                return false;
            }
        }
        out.resize(used);
        return true;
    }

private:
    static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
    iconv_t toWide_;
    iconv_t fromWide_;
};

AnsiCodec& Codec() {
    thread_local AnsiCodec codec;
    return codec;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool IsAscii(const std::wstring& s) {
    for (wchar_t c : s)
        if (static_cast<std::uint32_t>(c) >= 0x80) return false;
    return true;
}

bool ValidScalar(std::uint32_t cp) { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

constexpr std::uint32_t kReplacement = 0xFFFD;

// Decodes one code point at p and advances p; malformed input gives U+FFFD
// (ok = false) and consumes what was read of the broken sequence.
std::uint32_t DecodeOne(const unsigned char*& p, const unsigned char* end, bool& ok) {
    unsigned char c = *p++;
    if (c < 0x80) return c;
    int extra;
    std::uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        ok = false;
        return kReplacement;
    }
    if (end - p < extra) {
        p = end;
        ok = false;
        return kReplacement;
    }
    for (int i = 0; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            p += i;
            ok = false;
            return kReplacement;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    p += extra;
    if (cp < min || !ValidScalar(cp)) {
        ok = false;
        return kReplacement;
    }
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

// Decodes into `out`, which has room for `size` characters (never more than
// bytes); returns how many it wrote. ASCII runs take the short way.
size_t DecodeUtf8Into(const char* data, size_t size, wchar_t* out, bool& ok) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    wchar_t* w = out;
    while (p < end) {
        if (*p < 0x80) *w++ = static_cast<wchar_t>(*p++);
        else *w++ = static_cast<wchar_t>(DecodeOne(p, end, ok));
    }
    return static_cast<size_t>(w - out);
}

// Shared by the strict and the lenient forms: false when anything was malformed.
bool DecodeUtf8(const char* data, size_t size, std::wstring& out) {
    bool ok = true;
    out.resize(size);
    out.resize(DecodeUtf8Into(data, size, &out[0], ok));
    return ok;
}

bool EncodeUtf8(const wchar_t* text, size_t size, std::string& out) {
    out.clear();
    out.reserve(size);
    bool ok = true;
    for (size_t i = 0; i < size; ++i) {
        auto cp = static_cast<std::uint32_t>(text[i]);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (!ValidScalar(cp)) {
            ok = false;
            cp = kReplacement;
        }
        AppendUtf8(out, cp);
    }
    return ok;
}

bool EncodeUtf8(const std::wstring& text, std::string& out) { return EncodeUtf8(text.data(), text.size(), out); }

}  // namespace

std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }

std::string WideToUtf8(const wchar_t* text, size_t size) {
    std::string out;
    return EncodeUtf8(text, size, out) ? out : std::string();
}

size_t Utf8ToWideLenientInto(const char* data, size_t size, wchar_t* out) {
    bool ok = true;
    return DecodeUtf8Into(data, size, out, ok);
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    return DecodeUtf8(text.data(), text.size(), out) ? out : std::wstring();
}

std::wstring Utf8ToWideLenient(const char* data, size_t size) {
    std::wstring out;
    DecodeUtf8(data, size, out);
    return out;
}

std::string WideToUtf8Lenient(const std::wstring& text) {
    std::string out;
    EncodeUtf8(text, out);
    return out;
}

std::string SanitizeUtf8(const char* data, size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    const auto* q = p;
    while (q < end && *q < 0x80) ++q;  // plain ASCII passes through as one copy
    if (q == end) return std::string(data, size);
    std::string out(data, static_cast<size_t>(q - p));
    out.reserve(size);
    bool ok = true;
    while (q < end) AppendUtf8(out, DecodeOne(q, end, ok));
    return out;
}

namespace {

// The code point of the unit at `i` (and its pair), advancing `i` past it.
std::uint32_t NextUtf16(const std::uint16_t* units, size_t count, size_t& i) {
    std::uint32_t u = units[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF)
        return 0x10000 + ((u - 0xD800) << 10) + (units[i++] - 0xDC00);
    return kReplacement;
}

void AppendUtf16(std::u16string& out, std::uint32_t cp) {
    if (!ValidScalar(cp)) cp = kReplacement;
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

}  // namespace

std::string Utf16ToUtf8Lenient(const std::uint16_t* units, size_t count) {
    std::string out;
    out.reserve(count);
    size_t i = 0;
    while (i < count && units[i] < 0x80) out += static_cast<char>(units[i++]);
    while (i < count) AppendUtf8(out, NextUtf16(units, count, i));
    return out;
}

std::wstring Utf16ToWideLenient(const std::uint16_t* units, size_t count) {
    std::wstring out;
    out.reserve(count);
    for (size_t i = 0; i < count;) out += static_cast<wchar_t>(NextUtf16(units, count, i));
    return out;
}

std::u16string Utf8ToUtf16Lenient(const char* data, size_t size) {
    std::u16string out;
    out.reserve(size);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end && *p < 0x80) out += static_cast<char16_t>(*p++);
    bool ok = true;
    while (p < end) AppendUtf16(out, DecodeOne(p, end, ok));
    return out;
}

std::u16string WideToUtf16Lenient(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) AppendUtf16(out, static_cast<std::uint32_t>(wc));
    return out;
}

bool IsValidUtf8(const char* data, size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    bool ok = true;
    while (p < end && ok) {
        if (*p < 0x80) ++p;
        else DecodeOne(p, end, ok);
    }
    return ok;
}

std::string WideToAnsi(const std::wstring& text) {
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    for (wchar_t wc : text)
        if (!ValidScalar(static_cast<std::uint32_t>(wc))) return {};
    std::string out;
    return Codec().Encode(text, out) ? out : std::string();
}

std::wstring AnsiToWide(const std::string& text) {
    if (IsAscii(text)) return std::wstring(text.begin(), text.end());
    std::wstring out;
    return Codec().Decode(text, out) ? out : std::wstring();
}

std::string AnsiToUtf8(const std::string& text) {
    if (IsAscii(text)) return text;
    return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(const std::string& text) {
    if (IsAscii(text)) return text;
    return WideToAnsi(Utf8ToWide(text));
}

std::u16string WideToUtf16(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else if (cp <= 0xFFFF) {
            out += static_cast<char16_t>(cp);  // lone surrogates pass through, as in UTF-16 text
        } else {
            return {};
        }
    }
    return out;
}

std::wstring Utf16ToWide(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out += static_cast<wchar_t>(u);
        }
    }
    return out;
}

std::string WideToUtf16LEBytes(const std::wstring& text) {
    std::u16string units = WideToUtf16(text);
    std::string out(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        out[2 * i] = static_cast<char>(units[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return out;
}

std::wstring DecodeTextFile(const std::string& bytes, TextEncoding* detected, bool* ok) {
    TextEncoding enc = TextEncoding::Ansi;
    std::wstring out;
    bool good = true;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        enc = TextEncoding::Utf16LE;
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        out = Utf16ToWide(units);
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        enc = TextEncoding::Utf8Bom;
        out = Utf8ToWide(bytes.substr(3));
        good = out.size() > 0 || bytes.size() == 3;
    } else {
        out = AnsiToWide(bytes);
        good = out.size() > 0 || bytes.empty();
    }
    if (detected) *detected = enc;
    if (ok) *ok = good;
    return out;
}

std::string EncodeTextFile(const std::wstring& text, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf16LE: return std::string("\xFF\xFE") + WideToUtf16LEBytes(text);
        case TextEncoding::Utf8Bom: return std::string("\xEF\xBB\xBF") + WideToUtf8(text);
        case TextEncoding::Ansi: break;
    }
    return WideToAnsi(text);
}

std::wstring ToLowerAscii(std::wstring text) {
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::string ToLowerAscii(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EqualsIgnoreCaseAscii(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

}  // namespace platform
