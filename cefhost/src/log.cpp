#include "log.h"

#include "platform/debug_output.h"
#include "platform/system_info.h"

namespace kxcef {

const char kLogManager[] = "CEF\\CEF3Manager";
const char kLogApp[] = "CEF\\CEF3APP";
const char kLogHandler[] = "CEF\\CEF3Handler";

namespace {

LogSeverity ReadMinLevel() {
    std::string v = platform::GetEnv("KXCEF2_LOG_SEVERITY");
    if (v == "verbose") return LogSeverity::Verbose;
    if (v == "warning") return LogSeverity::Warning;
    if (v == "error") return LogSeverity::Error;
    if (v == "disable") return LogSeverity::Disable;
    return LogSeverity::Info;
}

// Standard error may be a pipe nobody reads: the line never waits for it.
void Write(const char* severity, const char* source, const std::string& text) {
    platform::WriteStandardError(std::string("[KXCEF2:") + severity + ":" + source + "] " + text);
}

}  // namespace

LogSeverity MinLogLevel() {
    static const LogSeverity level = ReadMinLevel();
    return level;
}

bool InfoLogEnabled() { return MinLogLevel() <= LogSeverity::Info; }

void LogInfo(const char* source, const std::string& text) {
    if (InfoLogEnabled()) Write("INFO", source, text);
}

void LogWarning(const char* source, const std::string& text) {
    if (MinLogLevel() <= LogSeverity::Warning) Write("WARNING", source, text);
}

}  // namespace kxcef
