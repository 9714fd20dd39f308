#include "common/log_text.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace {

constexpr char kHidden[] = "***";

bool IsSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// An address ends at blanks, quotes, angle brackets and control characters.
bool EndsAddress(char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`';
}

// The second byte of a double-byte character of code page 936.
bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

void AppendEscaped(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
    }
}

// One address, masked; without "://" only its query and fragment are hidden.
bool IsScheme(const std::string& text, size_t end) {
    if (end == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < end; ++i)
        if (!IsSchemeChar(text[i])) return false;
    return true;
}

std::string MaskAddress(const std::string& url) {
    size_t sep = url.find("://");
    if (sep == std::string::npos || !IsScheme(url, sep)) {
        size_t q = url.find_first_of("?#");
        return q == std::string::npos ? url : url.substr(0, q + 1) + kHidden;
    }
    size_t authority = sep + 3;
    size_t authorityEnd = url.find_first_of("/?#", authority);
    if (authorityEnd == std::string::npos) authorityEnd = url.size();
    std::string out = url.substr(0, authority);
    size_t at = url.rfind('@', authorityEnd == 0 ? 0 : authorityEnd - 1);
    if (at != std::string::npos && at >= authority) {
        out += kHidden;
        out += url.substr(at, authorityEnd - at);
    } else {
        out += url.substr(authority, authorityEnd - authority);
    }
    size_t query = url.find('?', authorityEnd);
    size_t fragment = url.find('#', authorityEnd);
    size_t pathEnd = std::min(query, fragment);
    out += url.substr(authorityEnd, pathEnd == std::string::npos ? std::string::npos : pathEnd - authorityEnd);
    if (query != std::string::npos && query < fragment) out += std::string("?") + kHidden;
    if (fragment != std::string::npos) out += std::string("#") + kHidden;
    return out;
}

}  // namespace

std::string EscapeForLog(const std::string& ansi, size_t maxBytes) {
    std::string out;
    out.reserve(std::min(ansi.size(), maxBytes) + 8);
    size_t i = 0;
    while (i < ansi.size()) {
        unsigned char c = static_cast<unsigned char>(ansi[i]);
        // A double-byte character stays whole. A lead byte without a valid
        // second byte (text from outside need not be well formed) is shown
        // escaped on its own, so whatever follows it (a line break, a NUL) is
        // escaped as well and the line stays decodable.
        bool lead = c >= 0x81 && c <= 0xFE;
        size_t width = lead && i + 1 < ansi.size() && IsTrailByte(static_cast<unsigned char>(ansi[i + 1])) ? 2 : 1;
        bool control = c < 0x20 || c == 0x7F || (lead && width == 1);
        size_t shown = !control ? width : (c == '\r' || c == '\n' || c == '\t') ? 2 : 4;
        if (out.size() + shown > maxBytes) {
            out += "...";
            break;
        }
        if (control) AppendEscaped(out, c);
        else out.append(ansi, i, width);
        i += width;
    }
    return out;
}

std::string PageTextForLog(const std::string& utf8, size_t maxBytes) {
    std::string valid = platform::SanitizeUtf8(utf8.data(), utf8.size());
    // Only a bounded part is converted: the rest would be cut anyway.
    if (valid.size() > maxBytes + 4) {
        size_t cut = maxBytes + 4;
        while (cut > 0 && (static_cast<unsigned char>(valid[cut]) & 0xC0) == 0x80) --cut;
        valid.resize(cut);
        valid += "....";
    }
    return EscapeForLog(platform::Utf8ToAnsi(valid), maxBytes);
}

std::string MaskUrl(const std::string& url) { return MaskAddress(url); }

std::string MaskUrlsIn(const std::string& text) {
    std::string out;
    size_t done = 0;
    size_t sep = text.find("://");
    while (sep != std::string::npos) {
        size_t begin = sep;
        while (begin > done && IsSchemeChar(text[begin - 1])) --begin;
        size_t end = sep + 3;
        while (end < text.size() && !EndsAddress(text[end])) ++end;
        if (begin < sep) {
            out.append(text, done, begin - done);
            out += MaskAddress(text.substr(begin, end - begin));
            done = end;
        }
        sep = text.find("://", std::max(end, sep + 3));
    }
    out.append(text, done, std::string::npos);
    return out;
}

std::wstring MaskUrlsIn(const std::wstring& text) {
    if (text.find(L"://") == std::wstring::npos) return text;
    return platform::Utf8ToWideLenient(MaskUrlsIn(platform::WideToUtf8Lenient(text)));
}

constexpr size_t RefusalLogBudget::kLines;
constexpr std::chrono::seconds RefusalLogBudget::kInterval;

RefusalLogBudget::Line RefusalLogBudget::Take(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(lock_);
    ++count_;
    if (!started_ || now - intervalStart_ >= kInterval) {
        started_ = true;
        intervalStart_ = now;
        written_ = 0;
    }
    Line line;
    if (written_ >= kLines) {
        ++skipped_;
        return line;
    }
    ++written_;
    line.write = true;
    line.skipped = skipped_;
    skipped_ = 0;
    return line;
}

size_t RefusalLogBudget::count() const {
    std::lock_guard<std::mutex> lock(lock_);
    return count_;
}

std::string RefusalLogBudget::SkippedNote(size_t skipped) {
    return skipped ? " (" + std::to_string(skipped) + " more not written)" : std::string();
}
