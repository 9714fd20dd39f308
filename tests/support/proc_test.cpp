// The /proc reader of tests and benchmarks: processes end while it reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include "bench/process_tree.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"

namespace {

TEST(ProcReader, AFileThatFailsToReadIsGoneNotAnException) {
    // A read that fails as it does for an exiting process's file: a directory
    // opens, and its read fails.
    std::string text;
    EXPECT_FALSE(qmtest::ReadProcFile("/proc/self", text));
    EXPECT_FALSE(qmtest::ReadProcFile("/proc/0/stat", text));
    EXPECT_EQ(qmtest::ReadProcKb("self/fd", "..", "VmRSS:"), 0);
    EXPECT_TRUE(qmtest::ReadProcFile("/proc/self/stat", text));
    EXPECT_FALSE(text.empty());
}

TEST(ProcReader, StatTextIsParsedAroundAnyCommandName) {
    qmtest::ProcStat p;
    std::string tail = " 5 6 7 8 9 10 11 12 13 250 50 0 0\n";  // … utime, stime, …
    ASSERT_TRUE(qmtest::ParseProcStat(7, "7 (a) (b c) R 3" + tail, p));
    EXPECT_EQ(p.name, "a) (b c");
    EXPECT_EQ(p.state, 'R');
    EXPECT_EQ(p.ppid, 3);
    EXPECT_EQ(p.cpuTicks, 300);
    // Cut short, as a read of a process going away may be.
    EXPECT_FALSE(qmtest::ParseProcStat(7, "7 (a) R 3 11 12", p));
    EXPECT_FALSE(qmtest::ParseProcStat(7, "7 (a", p));
    EXPECT_FALSE(qmtest::ParseProcStat(7, "", p));
    EXPECT_FALSE(qmtest::ParseProcStat(7, ") 7 (", p));
}

TEST(ProcReader, ThisProcessAndItsChildrenAreFound) {
    qmtest::ProcStat self;
    ASSERT_TRUE(qmtest::ReadProcStat(getpid(), self));
    EXPECT_EQ(self.ppid, getppid());
    EXPECT_GT(qmtest::ReadProcKb("self", "status", "VmRSS:"), 0);

    qmtest::ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sleep", "30"}));
    std::vector<int> below = qmtest::Descendants(getpid());
    EXPECT_NE(std::find(below.begin(), below.end(), child.pid()), below.end());
    qmbench::TreeUsage usage = qmbench::MeasureTree(getpid());
    EXPECT_GE(usage.processes.size(), 2u);
    EXPECT_GT(usage.rssKb, 0);
    child.Kill();
    child.Wait(std::chrono::seconds(10));
    // Gone: nothing to read, nothing thrown.
    EXPECT_FALSE(qmtest::ReadProcStat(child.pid(), self));
}

}  // namespace
