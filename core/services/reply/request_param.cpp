#include "core/services/reply/request_param.h"

#include <climits>
#include <cstdlib>

bool GetRequestParam(const std::string& key, const std::string& text, std::string& value) {
    value.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        size_t eq = text.find('=', start);
        if (eq != std::string::npos && eq < end && text.compare(start, eq - start, key) == 0) {
            value = text.substr(eq + 1, end - eq - 1);
            break;
        }
        start = end + 1;
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

