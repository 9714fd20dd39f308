// The per-page command budget: a burst, a steady rate, and few log lines.
#include <gtest/gtest.h>

#include "common/log_record.h"
#include "core/shell/page_call_budget.h"
#include "platform/text.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

TEST(PageCallBudget, ABurstThenTheSteadyRateAndDroppedCallsAreCountedNotLoggedEach) {
    qmtest::TempDir dir;
    qmlog::ResetForTesting();
    qmlog::SetExecutablePathForTesting(platform::Utf8ToWide(dir.File("qm_main")));

    PageCallBudget budget(10, 100);
    auto t = PageCallBudget::Clock::now();
    int taken = 0;
    for (int i = 0; i < 1000; ++i) taken += budget.Take("_nim_enum_player", t);
    EXPECT_EQ(taken, 10);
    // 100 a second: half a second later 50 more, never more than the burst.
    taken = 0;
    for (int i = 0; i < 1000; ++i) taken += budget.Take("_nim_enum_player", t + 500ms);
    EXPECT_EQ(taken, 10);
    taken = 0;
    for (int i = 0; i < 1000; ++i) taken += budget.Take("x", t + 500ms + 50ms);
    EXPECT_EQ(taken, 5);
    EXPECT_EQ(budget.Dropped(), 3000u - 25u);
    // A clock that goes back gives nothing extra.
    EXPECT_FALSE(budget.Take("x", t));

    // One line for the first refusal, then one per ten seconds with the count.
    budget.Take("late\r\nforged", t + 20s + 600ms);  // refills the burst
    for (int i = 0; i < 20; ++i) budget.Take("late\r\nforged", t + 20s + 600ms);
    std::string log = qmtest::DailyLogs(dir.path());
    size_t lines = 0;
    for (size_t p = log.find("faster than"); p != std::string::npos; p = log.find("faster than", p + 1)) ++lines;
    EXPECT_EQ(lines, 2u) << log;
    EXPECT_NE(log.find("refused (answered \"busy\"), the last \"late\\r\\nforged\""), std::string::npos) << log;
    qmlog::ResetForTesting();
    qmlog::SetExecutablePathForTesting(L"");
}
