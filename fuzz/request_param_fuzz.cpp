// Page command arguments ("name=value&name=value") as the voice-chat and
// identity handlers read them, values percent-decoded. The first byte says how long the key is (low
// four bits) and whether the rest is repeated up to 1 MiB, four times the
// argument text a page may send (bit 7): run with a per-input time budget, a
// lookup that is not linear in the text times out on such inputs.
#include <algorithm>
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
        if (k.find('=') != std::string::npos || k.find('&') != std::string::npos) __builtin_trap();
        // A value is decoded from one segment's text after its name and '=':
        // never longer, and never given a NUL the page did not write as one.
        if (text.size() <= 65536) {
            std::string raw;
            bool seen = false;
            for (size_t begin = 0; !seen && begin <= text.size();) {
                size_t end = text.find('&', begin);
                if (end == std::string::npos) end = text.size();
                std::string segment = text.substr(begin, end - begin);
                if (segment.compare(0, k.size() + 1, k + "=") == 0) {
                    raw = segment.substr(k.size() + 1);
                    seen = true;
                }
                begin = end + 1;
            }
            if (!seen || value.size() > raw.size()) __builtin_trap();
            if (std::count(value.begin(), value.end(), '\0') != std::count(raw.begin(), raw.end(), '\0')) __builtin_trap();
        }
        ParamFlag(value);
        ParamInt(value);
    }
    // Every byte written as an escape comes back, NUL excepted (it stays "%00").
    std::string input(reinterpret_cast<const char*>(data), size < 4096 ? size : 4096);
    std::string escaped;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char c : input) {
        escaped += '%';
        escaped += kHex[c >> 4];
        escaped += kHex[c & 15];
    }
    std::string back = DecodeRequestValue(escaped);
    std::string expected;
    for (char c : input) expected += c ? std::string(1, c) : std::string("%00");
    if (back != expected) __builtin_trap();
    if (DecodeRequestValue(input).size() > input.size()) __builtin_trap();
    return 0;
}
