#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "common/log_record.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"

namespace {

platform::LocalTime At(int day, int h, int m, int s) {
    platform::LocalTime t;
    t.year = 2026, t.month = 12, t.day = day, t.hour = h, t.minute = m, t.second = s;
    return t;
}

// Each test logs as an executable "qm_main" inside a fresh folder.
class LogWriter : public ::testing::Test {
protected:
    void SetUp() override {
        qmlog::ResetForTesting();
        qmlog::SetExecutablePathForTesting(platform::Utf8ToWide(dir_.File("qm_main")));
        qmlog::SetClockForTesting([] { return At(8, 14, 5, 9); });
    }
    void TearDown() override {
        qmlog::SetDailyLimitForTesting(0);
        qmlog::ResetForTesting();
        qmlog::SetClockForTesting(nullptr);
        qmlog::SetExecutablePathForTesting(L"");
    }
    // LOG/'s file of the client for a day of `month` 2026 (December: the test clock's).
    std::string LogPath(int day, int month = 12) const {
        char name[64];
        std::snprintf(name, sizeof(name), "/LOG/qm_main_2026_%02d_%02d_log.txt", month, day);
        return dir_.path() + name;
    }
    // LOG/ holding the client's logs of the first `days` days of November.
    std::string LogDirWithNovemberDays(int days) const {
        std::string logDir = dir_.path() + "/LOG";
        platform::CreateDirectories(platform::Utf8ToWide(logDir));
        for (int day = 1; day <= days; ++day) qmtest::WriteFile(LogPath(day, 11), "x");
        return logDir;
    }
    std::wstring ReadLog(int day) const {
        std::string bytes = qmtest::ReadFile(LogPath(day));
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        return qmtest::DecodeLogFile(bytes);
    }
    std::wstring Header() const {
        return L"[14:05:09][qm_main][PID:" + std::to_wstring(platform::CurrentProcessId()) + L"][TID:" +
               std::to_wstring(platform::CurrentThreadId()) + L"]";
    }
    // Captures what goes to the debugger output channel (standard error).
    struct StderrCapture {
        explicit StderrCapture(const std::string& path) {
            fflush(stderr);
            saved = dup(2);
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 2);
            close(fd);
        }
        ~StderrCapture() {
            fflush(stderr);
            dup2(saved, 2);
            close(saved);
        }
        int saved;
    };
    qmtest::TempDir dir_;
};

}  // namespace

TEST_F(LogWriter, EntryIsHeaderLineThenMessageInUtf16) {
    QM_LOG("WinMainImplement") << "<Quenor> Has already run one instance. exit...";
    int line = __LINE__ - 1;
    std::wstring expected = Header() + L"[WinMainImplement:" + std::to_wstring(line) +
                            L"]\r\n<Quenor> Has already run one instance. exit...\r\n";
    EXPECT_EQ(ReadLog(8), expected);
}

TEST_F(LogWriter, PercentSignsAndGbkTextAreWrittenLiterally) {
    LogRecord("F", 1) << "100% %s %d %n";
    LogRecord("F", 2) << "\xC9\xCF\xB1\xA8\xC6\xF4\xB6\xAF";  // GBK
    std::wstring log = ReadLog(8);
    EXPECT_NE(log.find(L"[F:1]\r\n100% %s %d %n\r\n"), std::wstring::npos);
    EXPECT_NE(log.find(L"[F:2]\r\n\u4e0a\u62a5\u542f\u52a8\r\n"), std::wstring::npos);
}

TEST_F(LogWriter, ANewDayClosesTheOldFileAndOpensANewOne) {
    qmlog::SetClockForTesting([] { return At(8, 23, 59, 59); });
    LogRecord("F", 1) << "late";
    qmlog::SetClockForTesting([] { return At(9, 0, 0, 1); });
    LogRecord("F", 2) << "early";
    EXPECT_NE(ReadLog(8).find(L"late"), std::wstring::npos);
    EXPECT_EQ(ReadLog(8).find(L"early"), std::wstring::npos);
    EXPECT_NE(ReadLog(9).find(L"[00:00:01]"), std::wstring::npos);
    // No descriptor of this process still points at the first day's file.
    std::string first = LogPath(8);
    for (int fd = 0; fd < 1024; ++fd) {
        char link[512] = {};
        std::string proc = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = readlink(proc.c_str(), link, sizeof(link) - 1);
        if (n > 0) {
            EXPECT_NE(std::string(link, static_cast<size_t>(n)), first);
        }
    }
}

TEST_F(LogWriter, PrunesToTheThirtyNewestFilesByName) {
    std::string logDir = LogDirWithNovemberDays(35);
    qmtest::WriteFile(logDir + "/other_2026_01_01_log.txt", "x");  // another module's log stays
    LogRecord("F", 1) << "first record prunes";
    for (int day = 1; day <= 5; ++day) EXPECT_FALSE(qmtest::Exists(LogPath(day, 11))) << LogPath(day, 11);
    EXPECT_TRUE(qmtest::Exists(logDir + "/qm_main_2026_11_06_log.txt"));
    EXPECT_TRUE(qmtest::Exists(logDir + "/other_2026_01_01_log.txt"));
}

TEST_F(LogWriter, ThirtyFilesAreLeftAlone) {
    std::string logDir = LogDirWithNovemberDays(30);
    LogRecord("F", 1) << "x";
    EXPECT_EQ(platform::ListFiles(platform::Utf8ToWide(logDir), L"qm_main", L"_log.txt").size(), 31u);
}

TEST_F(LogWriter, SwitchFilesSendRecordsToTheDebuggerAndEnablePrivateRecords) {
    std::string err = dir_.File("stderr.txt");
    {
        StderrCapture capture(err);
        LogRecord("F", 1) << "plain";
        PrivateLogRecord("F", 2) << "secret";
    }
    EXPECT_EQ(qmtest::ReadFile(err), "");
    EXPECT_NE(ReadLog(8).find(L"plain"), std::wstring::npos);
    EXPECT_EQ(ReadLog(8).find(L"secret"), std::wstring::npos);

    qmtest::WriteFile(dir_.File("hunter_no.txt"), "");
    qmtest::WriteFile(dir_.File("hunter_no_private.txt"), "");
    qmlog::ResetForTesting();
    {
        StderrCapture capture(err);
        LogRecord("F", 3) << "visible";
        PrivateLogRecord("F", 4) << "secret two";
    }
    EXPECT_EQ(qmtest::ReadFile(err), "!FB378Bvisible\n!FB378Bsecret two\n");
    EXPECT_NE(ReadLog(8).find(L"[F:4]\r\nsecret two\r\n"), std::wstring::npos);
}

TEST_F(LogWriter, EntriesOfHalfAMegabyteOrMoreAreDropped) {
    const std::string head = "[F:7]\r\n";
    const size_t limit = 0x80080;
    LogRecord("F", 7) << std::string(limit - head.size() - 1, 'a');
    LogRecord("F", 7) << std::string(limit - head.size(), 'b');
    std::wstring log = ReadLog(8);
    EXPECT_NE(log.find(L"aaaa"), std::wstring::npos);
    EXPECT_EQ(log.find(L"bbbb"), std::wstring::npos);
}

TEST_F(LogWriter, ConcurrentRecordsNeverTear) {
    const int threads = 8, perThread = 300;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                LogRecord("T", t) << "thread " << t << " record " << i << " " << std::string(64, 'a' + t);
        });
    for (auto& th : pool) th.join();
    std::wstring log = ReadLog(8);
    size_t entries = 0, pos = 0;
    while ((pos = log.find(L"[14:05:09][qm_main]", pos)) != std::wstring::npos) {
        size_t end = log.find(L"\r\n", log.find(L"\r\n", pos) + 2);
        ASSERT_NE(end, std::wstring::npos);
        std::wstring entry = log.substr(pos, end - pos);
        size_t t = entry.find(L"thread ");
        ASSERT_NE(t, std::wstring::npos) << platform::WideToUtf8(entry);
        int id = entry[t + 7] - L'0';
        EXPECT_NE(entry.find(std::wstring(64, static_cast<wchar_t>(L'a' + id))), std::wstring::npos);
        ++entries;
        pos = end;
    }
    EXPECT_EQ(entries, static_cast<size_t>(threads * perThread));
}

TEST_F(LogWriter, ADayStopsGrowingAtItsLimitWithOneClosingLine) {
    qmlog::SetDailyLimitForTesting(4096);
    for (int i = 0; i < 200; ++i) LogRecord("F", i) << "entry " << i << std::string(40, 'x');
    std::wstring log = ReadLog(8);
    // Whole entries up to the limit, then the closing line, then nothing of that day.
    std::string bytes = qmtest::ReadFile(LogPath(8));
    EXPECT_LT(bytes.size(), 4096u + 1024u);
    size_t closing = log.find(L"<qm> today's log reached 4096 bytes; further entries of today are dropped\r\n");
    ASSERT_NE(closing, std::wstring::npos);
    EXPECT_EQ(closing + std::wstring(L"<qm> today's log reached 4096 bytes; further entries of today are dropped\r\n").size(),
              log.size());
    EXPECT_EQ(log.find(L"entry 199"), std::wstring::npos);

    // A later run on the same day adds nothing; the next day starts afresh.
    qmlog::ResetForTesting();
    LogRecord("F", 1) << "after restart";
    EXPECT_EQ(ReadLog(8).find(L"after restart"), std::wstring::npos);
    qmlog::SetClockForTesting([] { return At(9, 0, 0, 1); });
    LogRecord("F", 2) << "next day";
    EXPECT_NE(ReadLog(9).find(L"next day"), std::wstring::npos);
}

TEST_F(LogWriter, FolderAndFileAreTheUsersOnlyWhateverTheUmask) {
    mode_t old = umask(0);
    std::string logDir = dir_.path() + "/LOG";
    ASSERT_EQ(mkdir(logDir.c_str(), 0777), 0);  // left by an older run, open to all
    LogRecord("F", 1) << "private";
    umask(old);
    struct stat st{};
    ASSERT_EQ(stat(logDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(LogPath(8).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // Not inherited by programs the client starts.
    int flags = -1;
    for (int fd = 0; fd < 1024; ++fd) {
        char link[512] = {};
        ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof(link) - 1);
        if (n > 0 && std::string(link, static_cast<size_t>(n)) == LogPath(8)) flags = fcntl(fd, F_GETFD);
    }
    ASSERT_NE(flags, -1);
    EXPECT_TRUE(flags & FD_CLOEXEC);
}

namespace {

// A log file another user put in place beforehand (the folder was open to
// them then) is never written into: the log goes to the user's state folder.
TEST_F(LogWriter, APlantedLogFileSendsTheLogToTheUsersStateFolder) {
    if (geteuid() != 0) GTEST_SKIP() << "a second owner needs root";
    qmtest::TempDir state;
    qmtest::ScopedEnv xdg("XDG_STATE_HOME", state.path());
    std::string logDir = dir_.path() + "/LOG";
    ASSERT_EQ(mkdir(logDir.c_str(), 0700), 0);
    ASSERT_TRUE(qmtest::WriteFile(LogPath(8), ""));
    ASSERT_EQ(chmod(LogPath(8).c_str(), 0666), 0);
    ASSERT_EQ(chown(LogPath(8).c_str(), 65534, 65534), 0);
    LogRecord("F", 1) << "not for the planter";
    EXPECT_EQ(qmtest::ReadFile(LogPath(8)), "");
    std::string moved = qmtest::ReadFile(state.path() + "/quenor/LOG/qm_main_2026_12_08_log.txt");
    EXPECT_NE(qmtest::DecodeLogFile(moved).find(L"not for the planter"), std::wstring::npos);
}

}  // namespace
