// The debugger output channel (OutputDebugString): one line on standard error.
#pragma once

#include <string>

namespace platform {

void OutputDebugStringW(const std::wstring& text);
// Narrow text in the ANSI code page.
void OutputDebugStringA(const std::string& text);

}  // namespace platform
