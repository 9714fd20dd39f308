// Page command arguments ("name=value&name=value") as the voice-chat and
// identity handlers read them. The first byte says how long the key is (low
// four bits) and whether the rest is repeated up to 1 MiB, four times the
// argument text a page may send (bit 7): run with a per-input time budget, a
// lookup that is not linear in the text times out on such inputs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/services/reply/request_param.h"

namespace {
constexpr size_t kLargestText = 1u << 20;  // four times the bridge's bound on a call's text
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t keyLength = data[0] % 16;
    bool tile = (data[0] & 0x80) != 0;
    if (keyLength > size - 1) keyLength = size - 1;
    std::string key(reinterpret_cast<const char*>(data + 1), keyLength);
    std::string text(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);
    if (tile && !text.empty()) {
        std::string unit = text;
        text.reserve(kLargestText);
        while (text.size() + unit.size() <= kLargestText) text += unit;
    }

    for (const std::string& k : {key, std::string("room_id"), std::string("user"), std::string("volumn")}) {
        std::string value = "stale";
        bool found = GetRequestParam(k, text, value);
        if (found != !value.empty()) __builtin_trap();
        if (!found) continue;
        // A value is one whole segment's text after its name and '='.
        if (value.find('&') != std::string::npos) __builtin_trap();
        if (k.find('=') != std::string::npos || k.find('&') != std::string::npos) __builtin_trap();
        // (The harness's own check is not linear: small texts only.)
        if (text.size() <= 65536 && text.find(k + "=" + value) == std::string::npos) __builtin_trap();
        ParamFlag(value);
        ParamInt(value);
    }
    return 0;
}
