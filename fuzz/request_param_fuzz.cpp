// Page command arguments ("name=value&name=value") as the voice-chat and
// identity handlers read them. The first byte says how long the key is.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/services/reply/request_param.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t keyLength = data[0] % 16;
    if (keyLength > size - 1) keyLength = size - 1;
    std::string key(reinterpret_cast<const char*>(data + 1), keyLength);
    std::string text(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);

    for (const std::string& k : {key, std::string("room_id"), std::string("user"), std::string("volumn")}) {
        std::string value = "stale";
        bool found = GetRequestParam(k, text, value);
        if (found != !value.empty()) __builtin_trap();
        if (!found) continue;
        // A value is one whole segment's text after its name and '='.
        if (value.find('&') != std::string::npos) __builtin_trap();
        if (text.find(k + "=" + value) == std::string::npos) __builtin_trap();
        if (k.find('=') != std::string::npos || k.find('&') != std::string::npos) __builtin_trap();
        ParamFlag(value);
        ParamInt(value);
    }
    return 0;
}
