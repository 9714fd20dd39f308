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
            value.assign(eq + 1, segmentEnd);
            break;
        }
        if (!amp) break;
        segment = amp + 1;
    }
    return !value.empty();
}

bool ParamFlag(const std::string& value) { return value == "true"; }

int ParamInt(const std::string& value) {
    // strtol rather than atoi: atoi's result is undefined beyond the int range.
    long v = std::strtol(value.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}
