// The pieces the crash handler relies on without the C library: local time
// from precomputed offsets, the dump name, /proc/PID/maps parsing, and the
// alternate stacks of threads started later.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/crash/crash_handler.h"
#include "platform/linux/crash/dump_name.h"
#include "platform/linux/crash/local_time.h"
#include "platform/linux/crash/proc_maps.h"
#include "platform/linux/crash/thread_stacks.h"
#include "tests/support/process.h"

namespace {

using platform::crash::CivilFromSeconds;
using platform::crash::CivilTime;
using platform::crash::Mapping;

// ---------------------------------------------------------------------------
// Time.

TEST(CrashLocalTimeTest, CalendarMatchesTheCLibrary) {
    // Every day across leap years, century rules and negative times, at varied hours.
    const std::int64_t starts[] = {-2208988800LL /*1900*/, -86400 * 3, 946684800 /*2000*/, 4102444800LL /*2100*/};
    for (std::int64_t start : starts) {
        for (int day = 0; day < 800; ++day) {
            std::int64_t t = start + day * 86400LL + (day * 3671) % 86400;
            time_t tt = static_cast<time_t>(t);
            struct tm expected{};
            ASSERT_NE(gmtime_r(&tt, &expected), nullptr);
            CivilTime got = CivilFromSeconds(t);
            ASSERT_EQ(got.year, expected.tm_year + 1900) << t;
            ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
            ASSERT_EQ(got.day, expected.tm_mday) << t;
            ASSERT_EQ(got.hour, expected.tm_hour) << t;
            ASSERT_EQ(got.minute, expected.tm_min) << t;
            ASSERT_EQ(got.second, expected.tm_sec) << t;
        }
    }
}

// Switches the process's time zone for one test.
class TimeZone {
public:
    explicit TimeZone(const char* zone) : env_(std::in_place, "TZ", zone) { tzset(); }
    ~TimeZone() {
        env_.reset();
        tzset();
    }

private:
    std::optional<qmtest::ScopedEnv> env_;
};

long OffsetFromCLibrary(std::int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm local{};
    localtime_r(&tt, &local);
    return local.tm_gmtoff;
}

bool HaveZone(const char* zone) { return std::string(zone).empty() || access((std::string("/usr/share/zoneinfo/") + zone).c_str(), R_OK) == 0; }

TEST(CrashLocalTimeTest, OffsetsFollowDaylightSavingChangesWithinTheHorizon) {
    if (!HaveZone("Europe/Berlin")) GTEST_SKIP() << "no time-zone data";
    TimeZone zone("Europe/Berlin");
    const std::int64_t start = 1767225600;  // 2026-01-01 00:00 UTC
    platform::crash::UtcOffsetTable table;
    table.Build(start, 400, OffsetFromCLibrary);
    EXPECT_EQ(table.transitions(), 2);  // March and October 2026
    // Every quarter hour of the horizon, and the seconds around each change.
    for (std::int64_t t = start; t < start + 400LL * 86400; t += 900) ASSERT_EQ(table.OffsetAt(t), OffsetFromCLibrary(t)) << t;
    const std::int64_t spring = 1774746000;  // 2026-03-29 01:00 UTC
    EXPECT_EQ(table.OffsetAt(spring - 1), 3600);
    EXPECT_EQ(table.OffsetAt(spring), 7200);
    // Local wall time on each side of the autumn change.
    const std::int64_t autumn = 1792890000;  // 2026-10-25 01:00 UTC
    CivilTime before = CivilFromSeconds(autumn - 1 + table.OffsetAt(autumn - 1));
    CivilTime after = CivilFromSeconds(autumn + table.OffsetAt(autumn));
    EXPECT_EQ(before.hour * 3600 + before.minute * 60 + before.second, 2 * 3600 + 59 * 60 + 59);
    EXPECT_EQ(after.hour * 3600 + after.minute * 60 + after.second, 2 * 3600);
}

TEST(CrashLocalTimeTest, ZoneWithoutChangesAndTimesOutsideTheTable) {
    if (!HaveZone("Asia/Shanghai")) GTEST_SKIP() << "no time-zone data";
    TimeZone zone("Asia/Shanghai");
    platform::crash::UtcOffsetTable table;
    table.Build(1767225600, 400, OffsetFromCLibrary);
    EXPECT_EQ(table.transitions(), 0);
    EXPECT_EQ(table.OffsetAt(0), 8 * 3600);             // before the table
    EXPECT_EQ(table.OffsetAt(4102444800LL), 8 * 3600);  // past the horizon
    platform::crash::UtcOffsetTable empty;
    EXPECT_EQ(empty.OffsetAt(1767225600), 0);
}

// ---------------------------------------------------------------------------
// Names.

TEST(CrashDumpNameTest, FormatsNameVersionDateAndTime) {
    char prefix[platform::crash::kMaxDumpNameBytes + 1];
    platform::crash::FormatDumpNamePrefix(prefix, "qm_main", "1.0.9.1");
    char name[300];
    size_t n = platform::crash::FormatDumpName(name, sizeof(name), prefix, CivilTime{2026, 12, 8, 14, 5, 9});
    EXPECT_EQ(std::string(name, n), "qm_main_v1.0.9.1_20261208_14_05_09.dmp");

    platform::crash::FormatDumpNamePrefix(prefix, "qm_main", "");
    n = platform::crash::FormatDumpName(name, sizeof(name), prefix, CivilTime{987, 1, 2, 3, 4, 5});
    EXPECT_EQ(std::string(name, n), "qm_main_v_09870102_03_04_05.dmp");
}

TEST(CrashDumpNameTest, LongProgramNamesAreShortenedToFitAFileName) {
    // 300 bytes of two-byte characters: the cut must not split one.
    std::string longName;
    for (int i = 0; i < 150; ++i) longName += "\xC3\xA9";
    char prefix[platform::crash::kMaxDumpNameBytes + 1];
    size_t length = platform::crash::FormatDumpNamePrefix(prefix, longName.c_str(), "1.2.3.4");
    char name[400];
    size_t n = platform::crash::FormatDumpName(name, sizeof(name), prefix, CivilTime{2026, 1, 2, 3, 4, 5});
    ASSERT_GT(n, 0u);
    EXPECT_LE(n, 255u);
    EXPECT_EQ(n, length + platform::crash::kDumpNameSuffixBytes);
    std::string text(name, n);
    EXPECT_NE(text.find("_v1.2.3.4_20260102_03_04_05.dmp"), std::string::npos) << text;
    size_t cut = text.find("_v1.2.3.4");
    EXPECT_EQ(cut % 2, 0u);  // whole characters only
}

TEST(CrashDumpNameTest, BuilderReportsWhatDoesNotFit) {
    char small[8];
    platform::crash::TextBuilder text(small, sizeof(small));
    text.Text("abc").Number(12345, 6);
    EXPECT_TRUE(text.overflowed());
    EXPECT_EQ(std::string(small), "abc0123");
    char name[16];
    EXPECT_EQ(platform::crash::FormatDumpName(name, sizeof(name), "x", CivilTime{2026, 1, 2, 3, 4, 5}), 0u);
}

// ---------------------------------------------------------------------------
// /proc/PID/maps.

const char kMaps[] =
    "55d0c4a00000-55d0c4a02000 r--p 00000000 08:01 1234                       /opt/qm/qm main\n"
    "55d0c4a02000-55d0c4a05000 r-xp 00002000 08:01 1234                       /opt/qm/qm main\n"
    "55d0c4a05000-55d0c4a06000 r--p 00005000 08:01 1234                       /opt/qm/qm main\n"
    "55d0c4a06000-55d0c4a07000 rw-p 00006000 08:01 1234                       /opt/qm/qm main\n"
    "55d0c4a07000-55d0c4a09000 rw-p 00000000 00:00 0 \n"
    "55d0c5000000-55d0c5021000 rw-p 00000000 00:00 0                          [heap]\n"
    "this line is not a mapping\n"
    "7f0000000000-7f0000001000 r--p 00000000 fd:02 77                         /usr/lib/libx.so (deleted)\n"
    "7f0000001000-7f0000003000 r-xp 00001000 fd:02 77                         /usr/lib/libx.so (deleted)\n"
    "7f0000010000-7f0000011000 r--p 00000000 fd:02 77                         /usr/lib/libx.so (deleted)\n"
    "7f0000020000-7f0000021000 r--s 00000000 00:05 99                         /dev/shm/data\n"
    "7ffc00000000-7ffc00021000 rw-p 00000000 00:00 0                          [stack]\n"
    "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]";

TEST(CrashProcMapsTest, ParsesFieldsAndSkipsMalformedLines) {
    Mapping m[32];
    size_t n = platform::crash::ParseMaps(kMaps, std::strlen(kMaps), m, 32);
    ASSERT_EQ(n, 12u);
    EXPECT_EQ(m[0].start, 0x55d0c4a00000u);
    EXPECT_EQ(m[0].end, 0x55d0c4a02000u);
    EXPECT_EQ(std::string(m[0].path, m[0].pathLength), "/opt/qm/qm main");
    EXPECT_TRUE(m[1].readable && m[1].executable && !m[1].writable);
    EXPECT_EQ(m[1].offset, 0x2000u);
    EXPECT_EQ(m[1].devMajor, 8u);
    EXPECT_EQ(m[1].inode, 1234u);
    EXPECT_FALSE(m[4].IsFile());
    EXPECT_EQ(std::string(m[5].path, m[5].pathLength), "[heap]");
    EXPECT_EQ(m[6].devMajor, 0xfdu);
    EXPECT_EQ(std::string(m[6].path, m[6].pathLength), "/usr/lib/libx.so (deleted)");
    EXPECT_EQ(m[11].start, 0xffffffffff600000u);
    EXPECT_FALSE(m[11].readable);
    // Capacity is respected.
    EXPECT_EQ(platform::crash::ParseMaps(kMaps, std::strlen(kMaps), m, 3), 3u);
}

TEST(CrashProcMapsTest, FindsTheMappingOfAnAddress) {
    Mapping m[32];
    size_t n = platform::crash::ParseMaps(kMaps, std::strlen(kMaps), m, 32);
    EXPECT_EQ(platform::crash::FindMapping(m, n, 0x55d0c4a02000), &m[1]);
    EXPECT_EQ(platform::crash::FindMapping(m, n, 0x55d0c4a01fff), &m[0]);
    EXPECT_EQ(platform::crash::FindMapping(m, n, 0x7ffc00020fff), &m[10]);
    EXPECT_EQ(platform::crash::FindMapping(m, n, 0x7ffc00021000), nullptr);
    EXPECT_EQ(platform::crash::FindMapping(m, n, 0x1000), nullptr);
    EXPECT_EQ(platform::crash::FindMapping(m, 0, 0x1000), nullptr);
}

TEST(CrashProcMapsTest, GroupsTheSegmentsOfEachLoadedFile) {
    Mapping m[32];
    size_t n = platform::crash::ParseMaps(kMaps, std::strlen(kMaps), m, 32);
    platform::crash::ModuleSpan span;
    size_t next = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (size_t from = 0; platform::crash::NextModuleSpan(m, n, from, span, next); from = next)
        spans.emplace_back(span.base, span.end);
    // The program (segments and .bss), the library's first copy, its second
    // copy (loaded again at offset 0), the shared-memory file.
    ASSERT_EQ(spans.size(), 4u);
    EXPECT_EQ(spans[0], std::make_pair(std::uint64_t{0x55d0c4a00000}, std::uint64_t{0x55d0c4a07000}));
    EXPECT_EQ(spans[1], std::make_pair(std::uint64_t{0x7f0000000000}, std::uint64_t{0x7f0000003000}));
    EXPECT_EQ(spans[2], std::make_pair(std::uint64_t{0x7f0000010000}, std::uint64_t{0x7f0000011000}));
    EXPECT_EQ(spans[3].first, 0x7f0000020000u);
}

// ---------------------------------------------------------------------------
// Threads started by a program that links the thread hook.

TEST(CrashThreadStackTest, ThreadsStartedLaterGetAnAlternateSignalStack) {
    // This test program links the hook; the main thread gets one explicitly.
    ASSERT_TRUE(platform::crash::EnsureAltStackForThisThread());
    for (int round = 0; round < 3; ++round) {
        stack_t seen{};
        int result = -1;
        std::thread([&] { result = sigaltstack(nullptr, &seen); }).join();
        ASSERT_EQ(result, 0);
        EXPECT_FALSE(seen.ss_flags & SS_DISABLE);
        EXPECT_GE(seen.ss_size, platform::crash::kMinUsableAltStackBytes);
    }
}

// ---------------------------------------------------------------------------
// The dump file.

// A temporary file at the writer's name, put there by another user (or left
// by an earlier crash), is removed and replaced, never written into.
TEST(CrashDumpFileTest, APlantedTemporaryIsReplacedNeverWrittenInto) {
    if (geteuid() != 0) GTEST_SKIP() << "a second owner needs root";
    qmtest::TempDir dir;
    std::string planted = dir.File("~" + std::to_string(getpid()) + ".dmp.tmp");
    ASSERT_TRUE(qmtest::WriteFile(planted, ""));
    ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
    ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
    // The planter keeps a second name of the file to read it later.
    ASSERT_EQ(link(planted.c_str(), dir.File("planters-copy").c_str()), 0);

    ASSERT_TRUE(platform::crash::WriteDumpOfThisProcess(dir.File("now.dmp").c_str()));
    EXPECT_EQ(qmtest::ReadFile(dir.File("planters-copy")), "");
    struct stat st{};
    ASSERT_EQ(stat(dir.File("now.dmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_GT(st.st_size, 0);
    EXPECT_EQ(qmtest::ListDir(dir.path()), (std::vector<std::string>{"now.dmp", "planters-copy"}));
}

}  // namespace
