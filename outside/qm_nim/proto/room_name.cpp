#include "outside/qm_nim/proto/room_name.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace qmnim::proto {
namespace {

constexpr char kMarker[] = "==";

bool AsciiAllowed(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') return true;
    switch (c) {
    case ' ': case '-': case '=': case '#': case '[': case ']': case '{': case '}': case '(': case ')':
    case '@': case '|':
        return true;
    default:
        return false;
    }
}

// Word characters above ASCII by the server's rule: letters, numbers and marks
// of every script, in the Basic Multilingual Plane only (the rule looks at
// UTF-16 code units, and half a surrogate pair is no word character).
const std::uint32_t kWordRuns[][2] = {
#include "outside/qm_nim/proto/word_chars_table.inc"
};

bool WordCodePoint(std::uint32_t cp) {
    auto end = std::end(kWordRuns);
    auto it = std::upper_bound(std::begin(kWordRuns), end, cp,
                               [](std::uint32_t v, const std::uint32_t(&run)[2]) { return v < run[0]; });
    if (it == std::begin(kWordRuns)) return false;
    --it;
    return cp <= (*it)[1];
}

// Decodes one UTF-8 sequence at `pos`; false for a malformed one.
bool NextCodePoint(std::string_view s, size_t& pos, std::uint32_t& cp) {
    auto b = static_cast<unsigned char>(s[pos]);
    int extra = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : -1;
    if (extra < 0 || s.size() - pos <= static_cast<size_t>(extra)) return false;
    cp = b & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        auto c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos += static_cast<size_t>(extra) + 1;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool IsPlainChannelName(std::string_view name) {
    if (name.empty()) return false;
    for (size_t pos = 0; pos < name.size();) {
        auto c = static_cast<unsigned char>(name[pos]);
        if (c < 0x80) {
            if (!AsciiAllowed(c)) return false;
            ++pos;
            continue;
        }
        std::uint32_t cp = 0;
        if (!NextCodePoint(name, pos, cp) || !WordCodePoint(cp)) return false;
    }
    return true;
}

std::string ChannelNameForRoom(std::string_view roomId) {
    if (IsPlainChannelName(roomId) && roomId.substr(0, 2) != kMarker) return std::string(roomId);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = kMarker;
    for (char ch : roomId) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (plain) {
            out += ch;
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> RoomForChannelName(std::string_view name) {
    if (name.substr(0, 2) != kMarker) return std::string(name);
    std::string out;
    for (size_t i = 2; i < name.size(); ++i) {
        if (name[i] != '=') {
            out += name[i];
            continue;
        }
        if (name.size() - i < 3) return std::nullopt;
        int hi = HexValue(name[i + 1]), lo = HexValue(name[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>((hi << 4) | lo);
        i += 2;
    }
    // Only the canonical form counts: "==abc" stands for "abc" only if
    // encoding "abc" gives it back.
    if (ChannelNameForRoom(out) != name) return std::nullopt;
    return out;
}

}  // namespace qmnim::proto
