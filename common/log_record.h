// The one log format of the system: a LogRecord is one statement, streamed in
// the ANSI code page; when it ends, its text goes to the daily UTF-16LE log
// file "<exe dir>/LOG/<exe name>_YYYY_MM_DD_log.txt" and, when "hunter_no.txt"
// exists beside the executable, to the debugger output. PrivateLogRecord is the
// gated twin, written only when "hunter_no_private.txt" exists.
#pragma once

#include <functional>
#include <sstream>
#include <string>

#include "platform/system_info.h"

class LogRecord {
public:
    // `file` names the source of the statement (for example "WinMainImplement").
    LogRecord(const char* file, int line) : file_(file), line_(line) {}
    ~LogRecord();
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;

    template <class T>
    LogRecord& operator<<(const T& value) {
        text_ << value;
        return *this;
    }
    std::ostringstream& stream() { return text_; }

protected:
    std::ostringstream text_;
    const char* file_;
    int line_;
    bool private_ = false;
};

class PrivateLogRecord : public LogRecord {
public:
    PrivateLogRecord(const char* file, int line) : LogRecord(file, line) { private_ = true; }
};

#define QM_LOG(file) LogRecord((file), __LINE__)
#define QM_PRIVATE_LOG(file) PrivateLogRecord((file), __LINE__)

namespace qmlog {

// Sends "!FB378B" + text + "\n" to the debugger output.
void TraceToDebugger(const std::wstring& text);
// Writes one entry (header line + text) to the daily file.
void WriteLogLine(const std::wstring& text);

// Test seams: the clock, the executable path that names the log, and a
// re-evaluation of the cached switch files. Production code never calls these.
void SetClockForTesting(std::function<platform::LocalTime()> clock);
void SetExecutablePathForTesting(const std::wstring& exePath);
void ResetForTesting();

}  // namespace qmlog
