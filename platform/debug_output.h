// The debugger output channel (OutputDebugString): one line on standard error.
// Writing never blocks: when nobody reads standard error (a full pipe, a
// stopped terminal) the line is dropped rather than stopping the thread.
#pragma once

#include <string>

namespace platform {

void OutputDebugStringW(const std::wstring& text);
// Narrow text in the ANSI code page.
void OutputDebugStringA(const std::string& text);
// UTF-8 text as it is; a line feed is added when it has none.
void WriteStandardError(const std::string& utf8);

// Sends the messages of GLib and the libraries built on it (GTK, WebKit)
// through WriteStandardError, so that they cannot block either. Call early,
// once per process, before other threads log.
void RouteLibraryMessagesToDebugOutput();

}  // namespace platform
