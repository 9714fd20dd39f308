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

// A day's file stops growing at this size (a page that calls in a loop must
// not fill the disk); the file count is limited as well (30 days).
constexpr size_t kMaxDailyLogBytes = 32 * 1024 * 1024;

// Sends "!FB378B" + text + "\n" to the debugger output.
void TraceToDebugger(const std::wstring& text);
// Writes one entry (header line + text) to the daily file.
void WriteLogLine(const std::wstring& text);

// Test seams: the clock, the executable path that names the log, and a
// re-evaluation of the cached switch files. Production code never calls these.
void SetClockForTesting(std::function<platform::LocalTime()> clock);
void SetExecutablePathForTesting(const std::wstring& exePath);
// 0 restores kMaxDailyLogBytes.
void SetDailyLimitForTesting(size_t bytes);
void ResetForTesting();

}  // namespace qmlog
