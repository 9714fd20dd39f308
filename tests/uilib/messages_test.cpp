// Message queue, message loop, SendMessage across threads, timers, window
// procedures and destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <map>
#include <thread>

#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"

using namespace std::chrono_literals;

namespace {

using namespace UiLib;
using qmtest::RecordingWindow;

constexpr UINT kTestMessage = WM_USER + 10;

// Ends a MessageLoop that a broken queue would never end, and says so.
class LoopGuard {
public:
    explicit LoopGuard(HWND hwnd) : hwnd_(hwnd) { SetTimer(hwnd_, kGuardTimer, 5000); }
    ~LoopGuard() { KillTimer(hwnd_, kGuardTimer); }
    static constexpr UINT_PTR kGuardTimer = 0x7777;

private:
    HWND hwnd_;
};

bool GuardFired(const RecordingWindow& window) {
    for (const auto& m : window.Of(WM_TIMER)) {
        if (m.wParam == LoopGuard::kGuardTimer) return true;
    }
    return false;
}

LRESULT QuitOnGuardProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
WNDPROC g_guardPrevious = nullptr;
LRESULT QuitOnGuardProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == LoopGuard::kGuardTimer) PostQuitMessage(0);
    return CallWindowProcW(g_guardPrevious, hwnd, message, wParam, lParam);
}

// A recording window whose guard timer ends the loop.
struct GuardedWindow : RecordingWindow {
    GuardedWindow() { g_guardPrevious = SetWindowProc(hwnd(), QuitOnGuardProc); }
};

TEST(MessageQueue, PostedMessagesArriveInOrderAndQuitEndsTheLoop) {
    GuardedWindow window;
    ASSERT_TRUE(IsWindow(window.hwnd()));
    LoopGuard guard(window.hwnd());
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(PostMessageW(window.hwnd(), kTestMessage, i, -i));
    PostQuitMessage(0);
    PostMessageW(window.hwnd(), kTestMessage + 1, 0, 0);  // after the quit: stays queued
    CPaintManagerUI::MessageLoop();
    EXPECT_FALSE(GuardFired(window));
    auto got = window.Of(kTestMessage);
    ASSERT_EQ(got.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(got[i].wParam, static_cast<WPARAM>(i));
        EXPECT_EQ(got[i].lParam, static_cast<LPARAM>(-i));
    }
    EXPECT_FALSE(window.Saw(kTestMessage + 1));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.Saw(kTestMessage + 1); }));
}

TEST(MessageQueue, QuitPostedToAWindowEndsTheLoopInsteadOfReachingIt) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    PostMessageW(window.hwnd(), WM_QUIT, 0, 0);
    CPaintManagerUI::MessageLoop();
    EXPECT_FALSE(GuardFired(window));
    EXPECT_FALSE(window.Saw(WM_QUIT));
}

TEST(MessageQueue, QuitSeenOutsideTheLoopIsKeptForTheNextLoop) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    PostQuitMessage(0);
    qmtest::PumpMainLoopFor(50ms);  // somebody else iterates the main context first
    CPaintManagerUI::MessageLoop();
    EXPECT_FALSE(GuardFired(window));
}

TEST(MessageQueue, PostsFromManyThreadsKeepEachThreadsOrder) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) PostMessageW(window.hwnd(), kTestMessage, t, i);
        });
    }
    for (auto& thread : threads) thread.join();
    PostQuitMessage(0);
    CPaintManagerUI::MessageLoop();
    std::map<WPARAM, LPARAM> last;
    int count = 0;
    for (const auto& m : window.Of(kTestMessage)) {
        auto it = last.find(m.wParam);
        if (it != last.end()) EXPECT_EQ(m.lParam, it->second + 1);
        else EXPECT_EQ(m.lParam, 0);
        last[m.wParam] = m.lParam;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kEach);
}

std::thread::id g_handlerThread;
LRESULT SumProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTestMessage) {
        g_handlerThread = std::this_thread::get_id();
        return static_cast<LRESULT>(wParam) + lParam;
    }
    return QuitOnGuardProc(hwnd, message, wParam, lParam);
}

TEST(MessageQueue, SendMessageFromAWorkerRunsOnTheUiThreadAndReturnsTheResult) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    WNDPROC previous = SetWindowProc(window.hwnd(), SumProc);
    ASSERT_NE(previous, nullptr);
    std::atomic<LRESULT> result{0};
    std::thread worker([&] {
        result = SendMessageW(window.hwnd(), kTestMessage, 20, 22);
        PostQuitMessage(0);
    });
    CPaintManagerUI::MessageLoop();
    worker.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(g_handlerThread, std::this_thread::get_id());
    // On the UI thread the call is direct.
    EXPECT_EQ(SendMessageW(window.hwnd(), kTestMessage, 1, 2), 3);
    SetWindowProc(window.hwnd(), previous);
}

TEST(MessageQueue, MessagesToGoneWindowsAreRefusedOrDropped) {
    RecordingWindow window;
    HWND hwnd = window.hwnd();
    ASSERT_TRUE(PostMessageW(hwnd, kTestMessage, 1, 0));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, kTestMessage, 2, 0));
    EXPECT_EQ(SendMessageW(hwnd, kTestMessage, 3, 0), 0);
    qmtest::PumpMainLoopFor(50ms);
    EXPECT_FALSE(window.Saw(kTestMessage));
}

TEST(MessageQueue, NestedLoopsEachEndOnTheirOwnQuit) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    static int depthReached = 0;
    struct Nested {
        static LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == kTestMessage) {
                depthReached = 2;
                PostQuitMessage(0);
                CPaintManagerUI::MessageLoop();  // ends on the first quit
                depthReached = 1;
                return 0;
            }
            return QuitOnGuardProc(hwnd, message, wParam, lParam);
        }
    };
    SetWindowProc(window.hwnd(), Nested::Proc);
    PostMessageW(window.hwnd(), kTestMessage, 0, 0);
    PostQuitMessage(0);  // queued behind the message: ends the outer loop
    CPaintManagerUI::MessageLoop();
    EXPECT_EQ(depthReached, 1);
    EXPECT_FALSE(GuardFired(window));
}

TEST(Timers, DeliverWmTimerUntilKilled) {
    RecordingWindow window;
    ASSERT_EQ(SetTimer(window.hwnd(), 5, 15), 5u);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.Of(WM_TIMER).size() >= 3; }));
    for (const auto& m : window.Of(WM_TIMER)) EXPECT_EQ(m.wParam, 5u);
    EXPECT_TRUE(KillTimer(window.hwnd(), 5));
    EXPECT_FALSE(KillTimer(window.hwnd(), 5));
    size_t seen = window.Of(WM_TIMER).size();
    qmtest::PumpMainLoopFor(120ms);
    EXPECT_EQ(window.Of(WM_TIMER).size(), seen);
}

TEST(Timers, SettingAnIdAgainReplacesTheTimerAndDestroyStopsIt) {
    RecordingWindow window;
    SetTimer(window.hwnd(), 9, 10000);
    SetTimer(window.hwnd(), 9, 15);  // the long one is gone
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.Saw(WM_TIMER); }));
    HWND hwnd = window.hwnd();
    DestroyWindow(hwnd);
    size_t seen = window.Of(WM_TIMER).size();
    qmtest::PumpMainLoopFor(80ms);
    EXPECT_EQ(window.Of(WM_TIMER).size(), seen);
    EXPECT_EQ(SetTimer(hwnd, 1, 10), 0u);
}

TEST(Timers, SetTimerFromAWorkerThreadIsMarshalled) {
    GuardedWindow window;
    LoopGuard guard(window.hwnd());
    std::thread worker([&] { SetTimer(window.hwnd(), 77, 10); });
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const auto& m : window.Of(WM_TIMER)) {
            if (m.wParam == 77) return true;
        }
        return false;
    }));
    worker.join();
    KillTimer(window.hwnd(), 77);
}

std::vector<std::string> g_chain;
WNDPROC g_firstPrevious = nullptr;
WNDPROC g_secondPrevious = nullptr;
LRESULT FirstSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTestMessage) g_chain.push_back("first");
    return CallWindowProcW(g_firstPrevious, hwnd, message, wParam, lParam);
}
LRESULT SecondSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTestMessage) g_chain.push_back("second");
    return CallWindowProcW(g_secondPrevious, hwnd, message, wParam, lParam);
}

TEST(WindowProcedures, SubclassesChainNewestFirstAndRestoreCleanly) {
    RecordingWindow window;
    WNDPROC original = GetWindowProc(window.hwnd());
    g_firstPrevious = SetWindowProc(window.hwnd(), FirstSubclass);
    EXPECT_EQ(g_firstPrevious, original);
    g_secondPrevious = SetWindowProc(window.hwnd(), SecondSubclass);
    EXPECT_EQ(g_secondPrevious, reinterpret_cast<WNDPROC>(FirstSubclass));
    EXPECT_EQ(GetWindowProc(window.hwnd()), reinterpret_cast<WNDPROC>(SecondSubclass));

    g_chain.clear();
    SendMessageW(window.hwnd(), kTestMessage, 0, 0);
    EXPECT_EQ(g_chain, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(window.Of(kTestMessage).size(), 1u);

    // Unwinding in reverse order gives back exactly the original procedure.
    EXPECT_EQ(SetWindowProc(window.hwnd(), g_secondPrevious), reinterpret_cast<WNDPROC>(SecondSubclass));
    EXPECT_EQ(SetWindowProc(window.hwnd(), g_firstPrevious), reinterpret_cast<WNDPROC>(FirstSubclass));
    EXPECT_EQ(GetWindowProc(window.hwnd()), original);
    g_chain.clear();
    SendMessageW(window.hwnd(), kTestMessage, 0, 0);
    EXPECT_TRUE(g_chain.empty());
    EXPECT_EQ(window.Of(kTestMessage).size(), 2u);
}

class FinalWindow : public CWindowWnd {
public:
    std::vector<UINT> seen;
    HWND finalHwnd = nullptr;
    bool keepOnClose = false;

protected:
    const wchar_t* GetWindowClassName() const override { return L"UiLibTestFinal"; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(message);
        if (message == WM_CLOSE && keepOnClose) return 0;
        return CWindowWnd::HandleMessage(message, wParam, lParam);
    }
    void OnFinalMessage(HWND hwnd) override { finalHwnd = hwnd; }
};

TEST(Destruction, DestroyWindowSendsDestroyThenNcDestroyThenTheFinalCall) {
    FinalWindow window;
    HWND hwnd = window.Create(nullptr, L"final", WS_POPUP, 0, 10, 10, 100, 100);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(window.GetHWND(), hwnd);
    EXPECT_EQ(window.seen.front(), WM_CREATE);
    EXPECT_TRUE(DestroyWindow(hwnd));
    ASSERT_GE(window.seen.size(), 2u);
    EXPECT_EQ(window.seen[window.seen.size() - 2], WM_DESTROY);
    EXPECT_EQ(window.seen.back(), WM_NCDESTROY);
    EXPECT_EQ(window.finalHwnd, hwnd);
    EXPECT_EQ(window.GetHWND(), nullptr);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
}

TEST(Destruction, CloseDestroysByDefaultAndAWindowMayRefuse) {
    FinalWindow keeps;
    keeps.keepOnClose = true;
    HWND kept = keeps.Create(nullptr, L"keeps", WS_POPUP, 0, 10, 10, 100, 100);
    keeps.Close();
    qmtest::PumpMainLoopUntil([&] { return !keeps.seen.empty() && keeps.seen.back() == WM_CLOSE; });
    EXPECT_TRUE(IsWindow(kept));

    FinalWindow closes;
    HWND closed = closes.Create(nullptr, L"closes", WS_POPUP, 0, 10, 10, 100, 100);
    closes.Close();
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !IsWindow(closed); }));
    EXPECT_EQ(closes.finalHwnd, closed);
}

TEST(Destruction, DeletingTheObjectFirstDestroysItsWindow) {
    HWND hwnd = nullptr;
    {
        FinalWindow window;
        hwnd = window.Create(nullptr, L"short-lived", WS_POPUP, 0, 10, 10, 50, 50);
        ASSERT_TRUE(IsWindow(hwnd));
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(Destruction, OwnedWindowsGoWithTheirOwner) {
    RecordingWindow owner;
    HWND owned = CreateWindowExW(0, RecordingWindow::kClassName, L"owned", WS_POPUP, 0, 0, 50, 50, owner.hwnd(),
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(IsWindow(owned));
    EXPECT_EQ(GetParent(owned), owner.hwnd());
    DestroyWindow(owner.hwnd());
    EXPECT_FALSE(IsWindow(owned));
}

TEST(TerminationSignal, SigtermBecomesAMessage) {
    RecordingWindow window;
    PostMessageOnTerminationSignal(window.hwnd(), kTestMessage + 7);
    std::raise(SIGTERM);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.Saw(kTestMessage + 7); }));
}

TEST(Classes, UnknownClassesCreateNothing) {
    EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    WNDCLASSW twice;
    twice.lpfnWndProc = DefWindowProcW;
    twice.lpszClassName = L"UiLibTestTwice";
    EXPECT_NE(RegisterClassW(&twice), 0);
    EXPECT_EQ(RegisterClassW(&twice), 0);
}

}  // namespace
