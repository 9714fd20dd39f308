#include "platform/debug_output.h"

#include <unistd.h>

#include "platform/text.h"

namespace platform {

static void WriteLine(std::string line) {
    if (line.empty() || line.back() != '\n') line += '\n';
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(STDERR_FILENO, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void OutputDebugStringW(const std::wstring& text) { WriteLine(WideToUtf8(text)); }
void OutputDebugStringA(const std::string& text) { WriteLine(AnsiToUtf8(text)); }

}  // namespace platform
