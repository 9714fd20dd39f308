// The single-instance guard and the hand-over channel on it, inside one process:
// the holder's main loop runs on this thread, later starts on other threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <vector>

#include "platform/instance_guard.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;
using platform::GuardResult;
using platform::HandOverResult;

namespace {

std::string UniqueName(const char* what) {
    return std::string("qm-test-guard-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(::testing::UnitTest::GetInstance()->random_seed());
}

}  // namespace

TEST(InstanceGuard, TheNameCarriesTheUserAndASecondAcquireFindsTheHolder) {
    std::string name = platform::SessionGuardName("PX_test");
    EXPECT_EQ(name.rfind("PX_test-" + std::to_string(getuid()), 0), 0u) << name;
    {
        qmtest::ScopedEnv session("XDG_SESSION_ID", "c7\n../x");
        EXPECT_EQ(platform::SessionGuardName("PX"), "PX-" + std::to_string(getuid()) + "-c7..x");
    }

    std::string unique = UniqueName("acquire");
    platform::InstanceGuard first(unique);
    EXPECT_EQ(first.Acquire(), GuardResult::Acquired);
    platform::InstanceGuard second(unique);
    EXPECT_EQ(second.Acquire(), GuardResult::AlreadyHeld);
    EXPECT_NE(second.Detail().find(std::to_string(getpid())), std::string::npos) << second.Detail();
}

TEST(InstanceGuard, EveryHandOverOfManySimultaneousStartsArrivesExactlyOnce) {
    std::string name = UniqueName("many");
    platform::InstanceGuard holder(name);
    ASSERT_EQ(holder.Acquire(), GuardResult::Acquired);
    std::vector<std::string> received;
    platform::ReceiveHandOvers([&](const platform::HandOverEvent& e) {
        EXPECT_TRUE(e.fromThisUser);
        received.push_back(e.message);
    });

    constexpr int kStarts = 10;
    std::vector<std::future<HandOverResult>> starts;
    for (int i = 0; i < kStarts; ++i) {
        starts.push_back(std::async(std::launch::async, [name, i] {
            platform::InstanceGuard later(name);
            if (later.Acquire() != GuardResult::AlreadyHeld) return HandOverResult::Failed;
            return later.HandOver("start " + std::to_string(i), 30s);
        }));
    }
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return received.size() >= static_cast<size_t>(kStarts); }, 60s));
    for (auto& s : starts) {
        // A start is answered only after its message was handled.
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return s.wait_for(0ms) == std::future_status::ready; }, 60s));
        EXPECT_EQ(s.get(), HandOverResult::Delivered);
    }
    qmtest::PumpMainLoopFor(100ms);
    std::sort(received.begin(), received.end());
    std::vector<std::string> expected;
    for (int i = 0; i < kStarts; ++i) expected.push_back("start " + std::to_string(i));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received, expected);

    // A start that only looks (connects and leaves) and one that sends too much reach nobody.
    {
        platform::InstanceGuard looker(name);
        EXPECT_EQ(looker.Acquire(), GuardResult::AlreadyHeld);
    }
    platform::InstanceGuard big(name);
    ASSERT_EQ(big.Acquire(), GuardResult::AlreadyHeld);
    EXPECT_EQ(big.HandOver(std::string(platform::kMaxHandOverBytes + 1, 'x'), 1s), HandOverResult::Failed);
    qmtest::PumpMainLoopFor(200ms);
    EXPECT_EQ(received.size(), static_cast<size_t>(kStarts));
}

TEST(InstanceGuard, AHolderThatNeverAnswersLeavesTheStartUnconfirmed) {
    std::string name = UniqueName("silent");
    platform::InstanceGuard holder(name);
    ASSERT_EQ(holder.Acquire(), GuardResult::Acquired);  // nobody receives on this one
    platform::InstanceGuard later(name);
    ASSERT_EQ(later.Acquire(), GuardResult::AlreadyHeld);
    EXPECT_EQ(later.HandOver("hello", 300ms), HandOverResult::NotAcknowledged);
}
