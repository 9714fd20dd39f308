// The library's own log: INFO lines on standard error, written only while the
// minimum log level allows INFO (KXCEF2_LOG_SEVERITY=info|warning|error|disable).
#pragma once

#include <string>

namespace kxcef {

enum class LogSeverity { Verbose = 0, Info = 1, Warning = 2, Error = 3, Disable = 99 };

LogSeverity MinLogLevel();
bool InfoLogEnabled();
// One INFO line: "[KXCEF2:INFO:<source>] <text>".
void LogInfo(const char* source, const std::string& text);
void LogWarning(const char* source, const std::string& text);

// Source names of the log lines.
extern const char kLogManager[];  // "CEF\\CEF3Manager"
extern const char kLogApp[];      // "CEF\\CEF3APP"
extern const char kLogHandler[];  // "CEF\\CEF3Handler"

}  // namespace kxcef
