#include "common/log_record.h"

#include <atomic>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/debug_output.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/state_dirs.h"
#include "platform/text.h"

namespace {

constexpr size_t kLineBufferChars = 0x80000;
constexpr size_t kMaxEntryBytes = 0x80080;
constexpr size_t kKeptLogFiles = 30;

struct LogFile {
    FILE* stream = nullptr;
    std::mutex fileLock;
    std::wstring moduleName;
    std::wstring logDir;
    int openDay = -1;
    bool full = false;     // today's file reached its size limit
    bool refused = false;  // the folder is not this user's own: nothing is written
};

struct LogState {
    std::mutex logLock;
    LogFile* file = nullptr;  // created by the first written record
    std::wstring line;        // reused composition buffer
    std::function<platform::LocalTime()> clock;
    std::wstring exePath;
    std::optional<platform::StateDirs> testDirs;  // the folders of exePath
    size_t dailyLimit = qmlog::kMaxDailyLogBytes;
};

LogState& State() {
    static LogState* state = new LogState();  // never destroyed: records may end during exit
    return *state;
}

// Switch files beside the executable, each tested once and cached (-1 = not yet).
std::atomic<int> g_debuggerSwitch{-1};
std::atomic<int> g_privateSwitch{-1};

std::wstring ExePath() {
    LogState& s = State();
    return s.exePath.empty() ? platform::ExecutablePath() : s.exePath;
}

bool SwitchOn(std::atomic<int>& cache, const wchar_t* fileName) {
    int v = cache.load(std::memory_order_acquire);
    if (v < 0) {
        v = platform::FileExists(platform::JoinPath(platform::DirPart(ExePath()), fileName)) ? 1 : 0;
        cache.store(v, std::memory_order_release);
    }
    return v == 1;
}

void PruneOldLogs(const LogFile& f) {
    std::vector<std::wstring> names = platform::ListFiles(f.logDir, f.moduleName, L"_log.txt");
    if (names.size() <= kKeptLogFiles) return;
    std::sort(names.begin(), names.end(), std::greater<std::wstring>());  // newest date first
    for (size_t i = kKeptLogFiles; i < names.size(); ++i) platform::DeleteFileAt(platform::JoinPath(f.logDir, names[i]));
}

void AppendTwoDigits(std::wstring& out, int v) {
    out += static_cast<wchar_t>(L'0' + (v / 10) % 10);
    out += static_cast<wchar_t>(L'0' + v % 10);
}

std::wstring DailyPath(const LogFile& f, const platform::LocalTime& t) {
    wchar_t date[32];
    std::swprintf(date, 32, L"_%04d_%02d_%02d_log.txt", t.year, t.month, t.day);
    return platform::JoinPath(f.logDir, f.moduleName + date);
}

void OpenForDay(LogFile& f, const platform::LocalTime& now, size_t limit) {
    if (f.stream) std::fclose(f.stream);
    f.stream = nullptr;
    f.openDay = now.day;
    f.full = false;
    std::wstring path = DailyPath(f, now);
    if (f.refused) return;
    std::string why;
    f.stream = platform::OpenFileForAppend(path, &why);
    if (!f.stream) {
        // Nobody reads a log that cannot be written: say so once where a
        // developer looks, and carry on without it.
        platform::OutputDebugStringA("<qm> cannot write the log file " + platform::NativePath(path) + ": " + why +
                                     "; log lines are dropped");
        return;
    }
    // A new UTF-16LE text file starts with its byte-order mark.
    std::fseek(f.stream, 0, SEEK_END);
    long size = std::ftell(f.stream);
    if (size == 0) std::fwrite("\xFF\xFE", 1, 2, f.stream);
    // Full from an earlier run today: its closing line is already there.
    f.full = size >= static_cast<long>(limit);
}

// Writes the entry unless today's file is full; the entry that fills it is
// followed by one line saying that the rest of the day is dropped.
void WriteEntry(LogFile& f, const std::string& bytes, const std::wstring& header, size_t limit) {
    std::lock_guard<std::mutex> fileLock(f.fileLock);
    if (f.full) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f.stream);
    std::fflush(f.stream);
    // Appending puts the position at the end of the file, entries of the other module included.
    if (std::ftell(f.stream) < static_cast<long>(limit)) return;
    f.full = true;
    std::string closing = platform::WideToUtf16LEBytes(
        header + L"[LogRecord:0]\r\n<qm> today's log reached " + std::to_wstring(limit) +
        L" bytes; further entries of today are dropped\r\n");
    std::fwrite(closing.data(), 1, closing.size(), f.stream);
    std::fflush(f.stream);
}

}  // namespace

namespace qmlog {

void TraceToDebugger(const std::wstring& text) {
    std::wstring out = L"!FB378B" + text + L"\n";
    if (out.size() > kLineBufferChars - 1) out.resize(kLineBufferChars - 1);
    platform::OutputDebugStringW(out);
}

void WriteLogLine(const std::wstring& text) {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.logLock);
    if (!s.file) {
        s.file = new LogFile();
        std::wstring exe = ExePath();
        s.file->moduleName = platform::FileStem(exe);
        const platform::StateDirs& dirs =
            s.exePath.empty() ? platform::ProcessStateDirs() : s.testDirs.emplace(platform::StateDirsFor(exe));
        s.file->logDir = dirs.logDir;
        std::string why;
        if (dirs.PrepareFolder(s.file->logDir, &why)) {
            PruneOldLogs(*s.file);
        } else {
            s.file->refused = true;
            platform::OutputDebugStringA("<qm> cannot write the log file: " + why + "; log lines are dropped");
        }
    }
    platform::LocalTime now = s.clock ? s.clock() : platform::Now();

    std::wstring& line = s.line;
    line.clear();
    line += L'[';
    AppendTwoDigits(line, now.hour);
    line += L':';
    AppendTwoDigits(line, now.minute);
    line += L':';
    AppendTwoDigits(line, now.second);
    line += L"][";
    line += s.file->moduleName;
    line += L"][PID:";
    line += std::to_wstring(platform::CurrentProcessId());
    line += L"][TID:";
    line += std::to_wstring(platform::CurrentThreadId());
    line += L']';
    size_t headerChars = line.size();
    line += text;
    line += L"\r\n";
    if (line.size() > kLineBufferChars) line.resize(kLineBufferChars);

    LogFile& f = *s.file;
    if (f.openDay != now.day) OpenForDay(f, now, s.dailyLimit);
    if (!f.stream) return;
    WriteEntry(f, platform::WideToUtf16LEBytes(line), line.substr(0, headerChars), s.dailyLimit);
}

void SetClockForTesting(std::function<platform::LocalTime()> clock) {
    std::lock_guard<std::mutex> lock(State().logLock);
    State().clock = std::move(clock);
}

void SetExecutablePathForTesting(const std::wstring& exePath) {
    std::lock_guard<std::mutex> lock(State().logLock);
    State().exePath = exePath;
}

void SetDailyLimitForTesting(size_t bytes) {
    std::lock_guard<std::mutex> lock(State().logLock);
    State().dailyLimit = bytes ? bytes : kMaxDailyLogBytes;
}

void ResetForTesting() {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.logLock);
    if (s.file) {
        if (s.file->stream) std::fclose(s.file->stream);
        delete s.file;
        s.file = nullptr;
    }
    g_debuggerSwitch.store(-1);
    g_privateSwitch.store(-1);
}

}  // namespace qmlog

LogRecord::~LogRecord() {
    bool toDebugger;
    if (private_) {
        if (!SwitchOn(g_privateSwitch, L"hunter_no_private.txt")) return;
        toDebugger = true;
    } else {
        toDebugger = SwitchOn(g_debuggerSwitch, L"hunter_no.txt");
    }
    std::string text = text_.str();
    if (toDebugger) qmlog::TraceToDebugger(platform::AnsiToWide(text));

    std::string entry = "[";
    entry += file_ ? file_ : "";
    entry += ':';
    entry += std::to_string(line_);
    entry += "]\r\n";
    entry += text;
    if (entry.size() >= kMaxEntryBytes) return;
    std::wstring wide = platform::AnsiToWide(entry);
    if (wide.empty()) {
        // A message that does not decode still leaves its header in the file.
        size_t header = entry.find("\r\n") + 2;
        wide = platform::AnsiToWide(entry.substr(0, header));
    }
    qmlog::WriteLogLine(wide);
}
