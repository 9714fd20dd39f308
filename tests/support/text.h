// Reading what a client wrote (its output, logs and files) back in tests.
#pragma once

#include <string>
#include <vector>

namespace qmtest {

// How often `needle` stands in `text`, overlapping runs counted.
inline size_t Occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

// The lines of `text` without their '\n'; a last line without one counts too.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace qmtest
