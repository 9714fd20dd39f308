#include "core/services/reply/request_param.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool GetRequestParam(const std::string& key, const std::string& text, std::string& value) {
    value.clear();
    // One pass over the text: each segment's '=' is looked for inside that
    // segment only, so a text of many segments without '=' stays linear.
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* segment = begin;
    while (true) {
        const char* amp = static_cast<const char*>(std::memchr(segment, '&', static_cast<size_t>(end - segment)));
        const char* segmentEnd = amp ? amp : end;
        const char* eq = static_cast<const char*>(std::memchr(segment, '=', static_cast<size_t>(segmentEnd - segment)));
        if (eq && static_cast<size_t>(eq - segment) == key.size() && std::memcmp(segment, key.data(), key.size()) == 0) {
            value = DecodeRequestValue(std::string(eq + 1, segmentEnd));
            break;
        }
        if (!amp) break;
        segment = amp + 1;
    }
    return !value.empty();
}

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string DecodeRequestValue(const std::string& text) {
    if (text.find('%') == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int high = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low < 0 || (high == 0 && low == 0)) {
            out += text[i];
            continue;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool ParamFlag(const std::string& value) { return value == "true"; }

int ParamInt(const std::string& value) {
    // strtol rather than atoi: atoi's result is undefined beyond the int range.
    long v = std::strtol(value.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}
