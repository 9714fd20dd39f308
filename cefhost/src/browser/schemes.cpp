#include "browser/schemes.h"

namespace kxcef {
namespace {
bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool Digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string SchemeOf(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0 || !Letter(url[0])) return {};
    std::string scheme;
    for (size_t i = 0; i < colon; ++i) {
        char c = url[i];
        if (!Letter(c) && !Digit(c) && c != '+' && c != '-' && c != '.') return {};
        scheme += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return scheme;
}

bool EngineShowsScheme(const std::string& url) {
    std::string s = SchemeOf(url);
    return s == "http" || s == "https" || s == "about" || s == "data" || s == "blob" || s == "file";
}

}  // namespace kxcef
