// Windows of another process: found by class and title, sent messages,
// restored and activated through the X server.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/display.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/uilib/test_util.h"

namespace {

using namespace UiLib;
using namespace std::chrono_literals;

constexpr const wchar_t* kClass = L"RW_UiLibPeerTest";

class CrossProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        report_ = dir_.File("report.txt");
        ASSERT_TRUE(peer_.Start({UILIB_PEER_PATH, "window", "RW_UiLibPeerTest", "Peer Title", report_},
                                {{"DISPLAY", qmtest::XvfbEnvironment::display()}}, dir_.File("peer.log")));
        ASSERT_TRUE(qmtest::WaitUntil([&] { return Reported("iconic"); }, 10s));
    }
    void TearDown() override { peer_.Kill(); }
    bool Reported(const std::string& line) {
        return qmtest::ReadFile(report_).find(line + "\n") != std::string::npos;
    }
    bool AwaitReport(const std::string& line) {
        return qmtest::PumpMainLoopUntil([&] { return Reported(line); }, 10s);
    }
    qmtest::TempDir dir_;
    std::string report_;
    qmtest::ChildProcess peer_;
};

TEST_F(CrossProcessTest, FindPostRestoreAndQuitAnotherProcessesWindow) {
    HWND peer = FindWindowW(kClass, L"Peer Title");
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(IsWindow(peer));
    EXPECT_EQ(GetWindowClassName(peer), kClass);
    wchar_t title[64];
    EXPECT_EQ(GetWindowTextW(peer, title, 64), 10);
    EXPECT_EQ(std::wstring(title), L"Peer Title");
    EXPECT_EQ(FindWindowW(kClass, L"Other Title"), nullptr);

    // The second start's hand-over: restore, bring forward, then message 2026.
    EXPECT_TRUE(ShowWindow(peer, SW_RESTORE));
    EXPECT_TRUE(SetForegroundWindow(peer));
    EXPECT_TRUE(PostMessageW(peer, 2026, 7, -3));
    EXPECT_TRUE(AwaitReport("restored"));
    EXPECT_TRUE(AwaitReport("2026 7 -3"));
    RECT rect;
    EXPECT_TRUE(GetWindowRect(peer, &rect));
    EXPECT_EQ(rect.right - rect.left, 200);

    EXPECT_TRUE(PostMessageW(peer, WM_USER + 99, 0, 0));
    EXPECT_EQ(peer_.Wait(10s), 0);
    EXPECT_TRUE(Reported("bye"));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !IsWindow(peer); }));
    EXPECT_FALSE(PostMessageW(peer, 2026, 0, 0));
}

TEST(NoDisplay, LookupAndCreationFailCleanly) {
    int code = qmtest::RunProcess({UILIB_PEER_PATH, "nodisplay"}, 20s, {{"DISPLAY", ":987"}});
    EXPECT_EQ(code, 0);
}

}  // namespace
