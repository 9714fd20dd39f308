// Text from outside the process (pages, other programs, the command line) on
// its way into a log line or the debugger output: it must not start a new
// entry, and secrets carried in addresses must not be written in clear.
#pragma once

#include <atomic>
#include <cstddef>
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
// loop): the first hundred are written, then one saying the rest are not,
// then none; the events are still counted. Any thread.
class RefusalLogBudget {
public:
    enum class Line { Write, Last, None };
    static constexpr size_t kMaxLines = 100;

    // Counts one event and says which line, if any, to write for it.
    Line Take() {
        size_t n = count_.fetch_add(1) + 1;
        return n <= kMaxLines ? Line::Write : n == kMaxLines + 1 ? Line::Last : Line::None;
    }
    size_t count() const { return count_.load(); }

private:
    std::atomic<size_t> count_{0};
};
