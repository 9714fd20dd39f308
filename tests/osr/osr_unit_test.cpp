// The off-screen pieces on their own: the periodic timer and the frame-rate
// timer over it, the frame bitmap of a windowless browser and its lock, and
// the event flags of keys and mouse buttons.
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "osr/fps_timer.h"
#include "osr/mm_timer.h"
#include "osr/osr_handler.h"
#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/win32.h"

using namespace std::chrono_literals;
using kxcef::CCEF3OSRHandler;
using kxcef::CFPSTimer;
using kxcef::CMMTimer;
using kxcef::CMMTimerListener;

namespace {

// Polls `done` every 2 ms for at most `limit`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct CountingListener : CMMTimerListener {
    void OnTimer(CMMTimer&) override { ++calls; }
    std::atomic<int> calls{0};
};

// --- CMMTimer ----------------------------------------------------------------------

TEST(MMTimer, EveryTickAddsTheDelayAndReachesEachListener) {
    CMMTimer timer;
    CountingListener a, b;
    timer.AddListener(&a);
    timer.AddListener(&b);
    timer.AddListener(&a);  // listed once
    ASSERT_TRUE(timer.Start(3));
    EXPECT_TRUE(timer.running());
    ASSERT_TRUE(WaitFor([&] { return timer.ticks() >= 5; }));
    timer.Kill();
    EXPECT_FALSE(timer.running());
    std::uint64_t ticks = timer.ticks();
    EXPECT_EQ(timer.elapsed(), ticks * 3);
    EXPECT_EQ(static_cast<std::uint64_t>(a.calls.load()), ticks);
    EXPECT_EQ(static_cast<std::uint64_t>(b.calls.load()), ticks);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(timer.ticks(), ticks) << "ticks after Kill";
}

TEST(MMTimer, StartingARunningTimerKeepsItsDelay) {
    CMMTimer timer;
    ASSERT_TRUE(timer.Start(40));
    unsigned id = timer.id();
    ASSERT_TRUE(timer.Start(5));
    EXPECT_EQ(timer.delay(), 40u);
    EXPECT_EQ(timer.id(), id);
    timer.Kill();
    ASSERT_TRUE(timer.Start(5));  // a killed timer starts anew
    EXPECT_EQ(timer.delay(), 5u);
    EXPECT_NE(timer.id(), id);
}

TEST(MMTimer, ARemovedListenerHearsNoMoreTicks) {
    CMMTimer timer;
    CountingListener kept, removed;
    timer.AddListener(&kept);
    timer.AddListener(&removed);
    timer.Start(2);
    ASSERT_TRUE(WaitFor([&] { return removed.calls >= 2; }));
    timer.RemoveListener(&removed);
    int frozen = removed.calls;
    int keptBefore = kept.calls;
    ASSERT_TRUE(WaitFor([&] { return kept.calls >= keptBefore + 3; }));
    timer.Kill();
    EXPECT_EQ(removed.calls, frozen);
}

TEST(MMTimer, AListenerMayKillItsOwnTimer) {
    struct Killer : CMMTimerListener {
        void OnTimer(CMMTimer& t) override {
            ++calls;
            t.Kill();
        }
        std::atomic<int> calls{0};
    } killer;
    CMMTimer timer;
    timer.AddListener(&killer);
    timer.Start(2);
    ASSERT_TRUE(WaitFor([&] { return killer.calls >= 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(killer.calls, 1);
    EXPECT_FALSE(timer.running());
}

// --- CFPSTimer -----------------------------------------------------------------------

TEST(FPSTimer, FiresItsCallbackOnEveryTick) {
    std::atomic<int> fires{0};
    CFPSTimer timer;
    timer.SetCallback([](void* user) { ++*static_cast<std::atomic<int>*>(user); }, &fires);
    EXPECT_EQ(timer.skip(), 0);
    timer.Start(2);
    ASSERT_TRUE(WaitFor([&] { return fires >= 5; }));
    timer.Stop();
    EXPECT_EQ(static_cast<std::uint64_t>(fires.load()), timer.timer().ticks());
}

TEST(FPSTimer, DestroyingARunningTimerWaitsForItsTick) {
    // A tick in flight must never reach a half-destroyed timer (the sanitizers watch).
    for (int i = 0; i < 20; ++i) {
        std::atomic<int> fires{0};
        {
            CFPSTimer timer;
            timer.SetCallback([](void* user) { ++*static_cast<std::atomic<int>*>(user); }, &fires);
            timer.Start(1);
            WaitFor([&] { return fires >= 1; }, 1s);
        }
        int after = fires;
        std::this_thread::sleep_for(3ms);
        EXPECT_EQ(fires, after);
    }
}

// --- The frame bitmap ------------------------------------------------------------------

// A frame of `width` x `height` pixels, each `base + index`.
std::vector<std::uint32_t> Frame(int width, int height, std::uint32_t base) {
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = base + static_cast<std::uint32_t>(i);
    return pixels;
}

class Bitmap : public ::testing::Test {
protected:
    void SetUp() override { osr_ = new CCEF3OSRHandler(); }

    // The bitmap's pixels, row by row (empty when there is none).
    std::vector<std::uint32_t> Pixels(int* width = nullptr, int* height = nullptr) {
        std::vector<std::uint32_t> out;
        OSRBitmap* bitmap = osr_->Lock();
        if (bitmap) {
            if (width) *width = bitmap->width;
            if (height) *height = bitmap->height;
            for (int y = 0; y < bitmap->height; ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(bitmap->pixels + static_cast<size_t>(y) * bitmap->stride);
                out.insert(out.end(), row, row + bitmap->width);
            }
        }
        osr_->Unlock();
        return out;
    }
    void Paint(const std::vector<RECT>& dirty, const std::vector<std::uint32_t>& frame, int width, int height) {
        osr_->OnPaint(dirty, frame.data(), width, height);
    }

    HWND host_ = reinterpret_cast<HWND>(0x5a5a0);  // not a window: only the repaint count matters
    CefRefPtr<CCEF3OSRHandler> osr_;
};

TEST_F(Bitmap, ThereIsNoBitmapBeforeTheFirstFrameOfTheRightSize) {
    osr_->Init(host_, RECT{10, 20, 14, 23}, 0);  // 4 x 3
    EXPECT_TRUE(Pixels().empty());
    Paint({RECT{0, 0, 1, 1}}, Frame(5, 3, 100), 5, 3);  // wrong width
    Paint({RECT{0, 0, 1, 1}}, Frame(4, 4, 100), 4, 4);  // wrong height
    osr_->OnPaint({}, nullptr, 4, 3);                  // no pixels
    EXPECT_TRUE(Pixels().empty());
    EXPECT_EQ(kxcef::OsrInvalidationCount(host_), 0);
}

TEST_F(Bitmap, TheFirstFrameIsCopiedWholeThenOnlyTheDirtyRectangles) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 0);
    Paint({RECT{0, 0, 1, 1}}, Frame(4, 3, 100), 4, 3);
    int w = 0, h = 0;
    EXPECT_EQ(Pixels(&w, &h), Frame(4, 3, 100));
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);

    Paint({RECT{1, 1, 3, 2}}, Frame(4, 3, 500), 4, 3);
    std::vector<std::uint32_t> expected = Frame(4, 3, 100);
    expected[1 * 4 + 1] = 500 + 5;
    expected[1 * 4 + 2] = 500 + 6;
    EXPECT_EQ(Pixels(), expected);
}

TEST_F(Bitmap, ARectangleOutsideTheBitmapEndsTheCopyingAndKeepsWhatWasCopied) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 0);
    Paint({}, Frame(4, 3, 100), 4, 3);
    Paint({RECT{0, 0, 1, 1}, RECT{3, 0, 5, 1}, RECT{2, 2, 3, 3}}, Frame(4, 3, 900), 4, 3);
    std::vector<std::uint32_t> expected = Frame(4, 3, 100);
    expected[0] = 900;  // the first rectangle only
    EXPECT_EQ(Pixels(), expected);
    Paint({RECT{-1, 0, 1, 1}}, Frame(4, 3, 700), 4, 3);
    EXPECT_EQ(Pixels(), expected);
}

TEST_F(Bitmap, AfterAResizeOldSizedFramesAreIgnoredAndTheNextFrameIsCopiedWhole) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 0);
    Paint({}, Frame(4, 3, 100), 4, 3);
    osr_->SetRect(RECT{5, 5, 8, 7});  // 3 x 2
    Paint({RECT{0, 0, 4, 3}}, Frame(4, 3, 300), 4, 3);
    int w = 0, h = 0;
    EXPECT_EQ(Pixels(&w, &h), Frame(4, 3, 100));
    EXPECT_EQ(w, 4);
    Paint({RECT{0, 0, 1, 1}}, Frame(3, 2, 600), 3, 2);
    EXPECT_EQ(Pixels(&w, &h), Frame(3, 2, 600));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
}

TEST_F(Bitmap, WithFrameRateZeroEachCopiedFrameRepaintsTheHostOnce) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 0);
    EXPECT_FALSE(osr_->timer().timer().running());
    long before = kxcef::OsrInvalidationCount(host_);
    Paint({}, Frame(4, 3, 1), 4, 3);
    Paint({RECT{0, 0, 2, 2}}, Frame(4, 3, 2), 4, 3);
    Paint({RECT{0, 0, 2, 2}}, Frame(5, 3, 3), 5, 3);  // ignored
    EXPECT_EQ(kxcef::OsrInvalidationCount(host_) - before, 2);
}

TEST_F(Bitmap, WithFrameRateThirtyOnlyTheTimerRepaintsEvery33Ms) {
    HWND host = reinterpret_cast<HWND>(0x5a5b0);
    long before = kxcef::OsrInvalidationCount(host);
    osr_->Init(host, RECT{0, 0, 4, 3}, 30);
    EXPECT_TRUE(osr_->timer().timer().running());
    EXPECT_EQ(osr_->timer().timer().delay(), 33u);
    for (int i = 0; i < 5; ++i) Paint({}, Frame(4, 3, i), 4, 3);
    ASSERT_TRUE(WaitFor([&] { return osr_->timer().timer().ticks() >= 4; }));
    osr_->Init(host, RECT{0, 0, 4, 3}, 0);  // stops the timer
    EXPECT_FALSE(osr_->timer().timer().running());
    EXPECT_EQ(static_cast<std::uint64_t>(kxcef::OsrInvalidationCount(host) - before), osr_->timer().timer().ticks());
    EXPECT_EQ(osr_->timer().timer().elapsed(), osr_->timer().timer().ticks() * 33);
}

TEST_F(Bitmap, ANewFrameRateRestartsTheTimerAtItsPeriod) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 60);
    EXPECT_EQ(osr_->timer().timer().delay(), 16u);
    osr_->Init(host_, RECT{0, 0, 4, 3}, 25);
    EXPECT_EQ(osr_->timer().timer().delay(), 40u);
    osr_->Init(host_, RECT{0, 0, 4, 3}, 5000);  // faster than a millisecond
    EXPECT_EQ(osr_->timer().timer().delay(), 1u);
    osr_->Init(host_, RECT{0, 0, 4, 3}, -3);
    EXPECT_FALSE(osr_->timer().timer().running());
}

TEST_F(Bitmap, TheViewRectangleNeedsAHostWindow) {
    CefRect view;
    EXPECT_FALSE(osr_->GetViewRect(view));
    osr_->Init(host_, RECT{10, 20, 330, 260}, 0);
    ASSERT_TRUE(osr_->GetViewRect(view));
    EXPECT_EQ(view.x, 10);
    EXPECT_EQ(view.y, 20);
    EXPECT_EQ(view.width, 320);
    EXPECT_EQ(view.height, 240);
}

TEST_F(Bitmap, TheLockIsReentrantAndHoldsOffFramesFromOtherThreads) {
    osr_->Init(host_, RECT{0, 0, 4, 3}, 0);
    Paint({}, Frame(4, 3, 100), 4, 3);
    OSRBitmap* outer = osr_->Lock();
    ASSERT_TRUE(outer);
    EXPECT_EQ(osr_->Lock(), outer);  // the same thread may enter again
    osr_->Unlock();
    std::atomic<bool> painted{false};
    std::vector<std::uint32_t> next = Frame(4, 3, 800);
    std::thread painter([&] {
        osr_->OnPaint({RECT{0, 0, 4, 3}}, next.data(), 4, 3);
        painted = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(painted);
    EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(outer->pixels)[0], 100u);
    osr_->Unlock();
    painter.join();
    EXPECT_TRUE(painted);
    EXPECT_EQ(Pixels(), next);
}

// --- Event flags ---------------------------------------------------------------------------

class Flags : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<qmtest::RecordingWindow>(L"flags");
        ASSERT_TRUE(qmtest::ShowAndWait(window_->hwnd()));
    }
    // Key state as the display reports it: the key is put on the display and
    // waited for until the window's procedure saw its message.
    void Key(guint keyval, bool down) {
        auto seen = [this, down] {
            return down ? window_->Of(WM_KEYDOWN).size() + window_->Of(WM_SYSKEYDOWN).size()
                        : window_->Of(WM_KEYUP).size() + window_->Of(WM_SYSKEYUP).size();
        };
        size_t before = seen();
        qmtest::PutKey(qmtest::GdkWindowOf(window_->hwnd()), keyval, down);
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return seen() > before; }, 10s)) << keyval;
    }
    std::unique_ptr<qmtest::RecordingWindow> window_;
};

constexpr LPARAM kExtended = 1 << 24;

TEST_F(Flags, KeypadKeysAreToldFromTheirTwinsByTheExtendedBit) {
    EXPECT_TRUE(kxcef::KeyboardModifiers(VK_RETURN, kExtended) & EVENTFLAG_IS_KEY_PAD);
    EXPECT_FALSE(kxcef::KeyboardModifiers(VK_RETURN, 0) & EVENTFLAG_IS_KEY_PAD);
    for (int vk : {VK_HOME, VK_PRIOR, VK_DOWN, VK_INSERT, VK_DELETE}) {
        EXPECT_TRUE(kxcef::KeyboardModifiers(vk, 0) & EVENTFLAG_IS_KEY_PAD) << vk;
        EXPECT_FALSE(kxcef::KeyboardModifiers(vk, kExtended) & EVENTFLAG_IS_KEY_PAD) << vk;
    }
    for (int vk : {VK_CLEAR, VK_NUMPAD0, VK_NUMPAD9, VK_MULTIPLY, VK_ADD, VK_SUBTRACT, VK_DECIMAL, VK_DIVIDE,
                   VK_NUMLOCK})
        EXPECT_TRUE(kxcef::KeyboardModifiers(vk, kExtended) & EVENTFLAG_IS_KEY_PAD) << vk;
    for (int vk : std::vector<int>{'A', '5', VK_SEPARATOR, VK_F1, VK_SPACE})
        EXPECT_FALSE(kxcef::KeyboardModifiers(vk, 0) & EVENTFLAG_IS_KEY_PAD) << vk;
}

TEST_F(Flags, ModifierKeysSayWhichSideIsDown) {
    EXPECT_EQ(kxcef::KeyboardModifiers(VK_LWIN, 0) & (EVENTFLAG_IS_LEFT | EVENTFLAG_IS_RIGHT), EVENTFLAG_IS_LEFT);
    EXPECT_EQ(kxcef::KeyboardModifiers(VK_RWIN, 0) & (EVENTFLAG_IS_LEFT | EVENTFLAG_IS_RIGHT), EVENTFLAG_IS_RIGHT);

    Key(GDK_KEY_Shift_R, true);
    std::uint32_t right = kxcef::KeyboardModifiers(VK_SHIFT, 0);
    Key(GDK_KEY_Shift_R, false);
    EXPECT_TRUE(right & EVENTFLAG_SHIFT_DOWN);
    EXPECT_EQ(right & (EVENTFLAG_IS_LEFT | EVENTFLAG_IS_RIGHT), EVENTFLAG_IS_RIGHT);

    Key(GDK_KEY_Control_L, true);
    Key(GDK_KEY_Alt_L, true);
    std::uint32_t control = kxcef::KeyboardModifiers(VK_CONTROL, 0);
    std::uint32_t letter = kxcef::KeyboardModifiers('A', 0);
    Key(GDK_KEY_Alt_L, false);
    Key(GDK_KEY_Control_L, false);
    EXPECT_EQ(control & (EVENTFLAG_IS_LEFT | EVENTFLAG_IS_RIGHT), EVENTFLAG_IS_LEFT);
    EXPECT_EQ(letter & (EVENTFLAG_CONTROL_DOWN | EVENTFLAG_ALT_DOWN | EVENTFLAG_SHIFT_DOWN),
              EVENTFLAG_CONTROL_DOWN | EVENTFLAG_ALT_DOWN);
    EXPECT_EQ(kxcef::KeyboardModifiers('A', 0) & (EVENTFLAG_CONTROL_DOWN | EVENTFLAG_ALT_DOWN), 0u);
}

TEST_F(Flags, MouseFlagsComeFromTheMessageAndAltFromTheKeyboard) {
    EXPECT_EQ(kxcef::MouseModifiers(MK_SHIFT | MK_LBUTTON | MK_RBUTTON) & ~EVENTFLAG_NUM_LOCK_ON & ~EVENTFLAG_CAPS_LOCK_ON,
              static_cast<std::uint32_t>(EVENTFLAG_SHIFT_DOWN | EVENTFLAG_LEFT_MOUSE_BUTTON |
                                         EVENTFLAG_RIGHT_MOUSE_BUTTON));
    EXPECT_EQ(kxcef::MouseModifiers(MK_CONTROL | MK_MBUTTON) & ~EVENTFLAG_NUM_LOCK_ON & ~EVENTFLAG_CAPS_LOCK_ON,
              static_cast<std::uint32_t>(EVENTFLAG_CONTROL_DOWN | EVENTFLAG_MIDDLE_MOUSE_BUTTON));
    Key(GDK_KEY_Alt_L, true);
    std::uint32_t alt = kxcef::MouseModifiers(0);
    Key(GDK_KEY_Alt_L, false);
    EXPECT_TRUE(alt & EVENTFLAG_ALT_DOWN);
}

}  // namespace
