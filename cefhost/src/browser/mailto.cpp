#include "browser/mailto.h"

#include <cstring>

namespace kxcef {
namespace {

const char* const kKept[] = {"to", "cc", "bcc", "subject", "body"};

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int high = text[i] == '%' && i + 2 < text.size() ? Hex(text[i + 1]) : -1;
        int low = high >= 0 ? Hex(text[i + 2]) : -1;
        if (low < 0) {
            out += text[i];
            continue;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// Every byte but the unreserved ones escaped.
std::string Encode(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

const char* KeptName(const std::string& decoded) {
    std::string name = Lower(decoded);
    for (const char* k : kKept)
        if (name == k) return k;
    return nullptr;
}

}  // namespace

std::string SanitizeMailto(const std::string& url, std::vector<std::string>* removed) {
    static const size_t kScheme = std::strlen("mailto:");
    std::string rest = url.size() >= kScheme ? url.substr(kScheme) : std::string();
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        if (removed) removed->push_back("#");
        rest.resize(hash);
    }
    size_t question = rest.find('?');
    std::string out = "mailto:" + rest.substr(0, question);
    if (question == std::string::npos) return out;
    std::string query = rest.substr(question + 1);
    std::string kept;
    for (size_t begin = 0; begin <= query.size();) {
        size_t end = query.find('&', begin);
        if (end == std::string::npos) end = query.size();
        std::string field = query.substr(begin, end - begin);
        begin = end + 1;
        if (field.empty()) continue;
        size_t eq = field.find('=');
        std::string name = Decode(field.substr(0, eq));
        const char* keep = eq == std::string::npos ? nullptr : KeptName(name);
        if (!keep) {
            if (removed) removed->push_back(name);
            continue;
        }
        kept += (kept.empty() ? "" : "&") + std::string(keep) + "=" + Encode(Decode(field.substr(eq + 1)));
    }
    return kept.empty() ? out : out + "?" + kept;
}

}  // namespace kxcef
