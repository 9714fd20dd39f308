// mailto: addresses from pages on their way to the desktop's mail client: what
// goes on holds only the fields of a message, each once re-encoded, and a
// second pass finds nothing more to take out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "browser/mailto.h"
#include "browser/schemes.h"

namespace {

bool Unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string url = "mailto:" + std::string(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> removed;
    std::string out = kxcef::SanitizeMailto(url, &removed);
    if (out.compare(0, 7, "mailto:") != 0 || out.find('#') != std::string::npos) __builtin_trap();
    if (kxcef::SchemeOf(out) != "mailto") __builtin_trap();
    size_t question = out.find('?');
    if (question != std::string::npos) {
        std::string query = out.substr(question + 1);
        for (size_t begin = 0; begin <= query.size();) {
            size_t end = query.find('&', begin);
            if (end == std::string::npos) end = query.size();
            std::string field = query.substr(begin, end - begin);
            begin = end + 1;
            size_t eq = field.find('=');
            if (eq == std::string::npos) __builtin_trap();
            std::string name = field.substr(0, eq);
            if (name != "to" && name != "cc" && name != "bcc" && name != "subject" && name != "body") __builtin_trap();
            for (char c : field.substr(eq + 1))
                if (!Unreserved(c)) __builtin_trap();
        }
    }
    // What went on is kept whole by another pass (its fields are decoded and
    // encoded once more, which changes nothing).
    std::vector<std::string> again;
    if (kxcef::SanitizeMailto(out, &again) != out || !again.empty()) __builtin_trap();
    return 0;
}
