// Text from outside the process (pages, other programs, the command line) on
// its way into a log line or the debugger output: it must not start a new
// entry, and secrets carried in addresses must not be written in clear.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

// ANSI (code page 936) text as one log line: CR, LF, TAB and every other
// control byte become "\r", "\n", "\t" or "\xHH", so no entry can be forged.
// Longer text is cut at a character boundary after `maxBytes` and marked "...".
std::string EscapeForLog(const std::string& ansi, size_t maxBytes = 512);
// The same for UTF-8 text (page texts): repaired, converted to the ANSI code
// page (unrepresentable characters become '?') and escaped.
std::string PageTextForLog(const std::string& utf8, size_t maxBytes = 512);

// An address with what may carry a secret hidden: user information, query and
// fragment become "***" ("rtmp://***@host/app?***#***").
std::string MaskUrl(const std::string& url);
// Every "scheme://..." address inside free text masked as MaskUrl does.
std::string MaskUrlsIn(const std::string& text);
std::wstring MaskUrlsIn(const std::wstring& text);

// Lines of one kind that a peer can cause without end (a page calling in a
// loop): at most kLines in any interval of kInterval; what is not written is
// counted, and the next line written says how many were left out, so a later
// burst leaves a trace however long the process has run. Any thread.
class RefusalLogBudget {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kLines = 20;
    static constexpr std::chrono::seconds kInterval{60};

    struct Line {
        bool write = false;  // write a line for this event
        size_t skipped = 0;  // events not written since the last line (when writing)
    };

    // Counts one event and says whether to write a line for it.
    Line Take(Clock::time_point now = Clock::now());
    size_t count() const;
    // " (N more not written)" for a line that follows skipped ones, else "".
    static std::string SkippedNote(size_t skipped);

private:
    mutable std::mutex lock_;
    size_t count_ = 0;
    size_t written_ = 0;  // lines of the current interval
    size_t skipped_ = 0;
    Clock::time_point intervalStart_{};
    bool started_ = false;
};
