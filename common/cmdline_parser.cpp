#include "common/cmdline_parser.h"

#include "platform/text.h"

void CCmdLineParser::Store(std::wstring name, std::wstring value) {
    if (name.empty()) return;
    // emplace keeps the first value of a repeated switch.
    switches_.emplace(platform::ToLowerAscii(std::move(name)), std::move(value));
}

void CCmdLineParser::Parse(const std::wstring& commandLine) {
    switches_.clear();
    commandLine_ = commandLine;
    const std::wstring& s = commandLine_;
    size_t pos = 0;
    for (;;) {
        size_t prefix = s.find_first_of(L"*/", pos);
        if (prefix == std::wstring::npos || prefix + 1 >= s.size()) return;
        size_t nameStart = prefix + 1;
        size_t delim = s.find_first_of(L" :", nameStart);
        if (delim == std::wstring::npos) {
            Store(s.substr(nameStart), std::wstring());
            return;
        }
        std::wstring name = s.substr(nameStart, delim - nameStart);
        if (s[delim] == L' ' || delim + 1 == s.size()) {
            Store(std::move(name), std::wstring());
            pos = delim + 1;
            continue;
        }
        // ':' with a value after it. A quoted value runs to the closing quote;
        // otherwise up to the next '*', so blanks before the next switch belong to it.
        size_t valueStart = delim + 1;
        size_t terminator;
        if (s[valueStart] == L'"') {
            ++valueStart;
            terminator = s.find(L'"', valueStart);
        } else {
            terminator = s.find(L'*', valueStart);
        }
        if (terminator == std::wstring::npos) {
            Store(std::move(name), s.substr(valueStart));
            return;
        }
        // A value that ends where it starts ("*a:*b", "*a:\"\"") is empty.
        Store(std::move(name), s.substr(valueStart, terminator - valueStart));
        pos = terminator;
        if (pos < s.size() && s[pos] == L'"') ++pos;
    }
}

std::wstring CCmdLineParser::GetVal(const std::wstring& name) const {
    auto it = switches_.find(platform::ToLowerAscii(name));
    return it == switches_.end() ? std::wstring() : it->second;
}

bool CCmdLineParser::HasKey(const std::wstring& name) const {
    return switches_.count(platform::ToLowerAscii(name)) != 0;
}
