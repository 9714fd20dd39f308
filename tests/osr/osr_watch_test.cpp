// Watching host windows without an engine: handlers put their procedure in
// front of the window's own once, hand the window's input to windowless
// browsers, and give the window its procedure back when the last stops.
#include <gtest/gtest.h>

#include "browser/handler_impl.h"
#include "kxcef/cef3_handler.h"
#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/win32.h"

using namespace std::chrono_literals;

namespace {

class Watch : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<qmtest::RecordingWindow>(L"watched");
        hwnd_ = window_->hwnd();
        ASSERT_TRUE(qmtest::ShowAndWait(hwnd_));
        window_->Clear();
        original_ = UiLib::GetWindowProc(hwnd_);
    }
    void TearDown() override {
        for (auto& h : handlers_) h->DealOSRInputMsg(nullptr, false);
        handlers_.clear();
        UiLib::ReleaseCapture();
        window_.reset();
        qmtest::PumpMainLoopFor(20ms);
    }
    // A handler of a (never created) browser hosted by the window.
    CefRefPtr<CCEF3Handler> Handler(bool windowLess) {
        CefRefPtr<CCEF3Handler> h(new CCEF3Handler());
        h->SetMainWindowHandle(hwnd_);
        if (windowLess) h->InitOSRPaintContext(hwnd_, RECT{0, 0, 200, 100}, 0);
        else h->SetBrowserBoundary(RECT{0, 0, 200, 100});
        h->DealOSRInputMsg(hwnd_, windowLess);
        handlers_.push_back(h);
        return h;
    }
    size_t Watchers() {
        auto it = CCEF3Handler::s_HandlerMap.find(hwnd_);
        return it == CCEF3Handler::s_HandlerMap.end() ? 0 : it->second.size();
    }

    std::unique_ptr<qmtest::RecordingWindow> window_;
    HWND hwnd_ = nullptr;
    WNDPROC original_ = nullptr;
    std::vector<CefRefPtr<CCEF3Handler>> handlers_;
};

TEST_F(Watch, TwoHandlersSubclassOnceAndTheLastRestoresTheProcedure) {
    CefRefPtr<CCEF3Handler> a = Handler(true);
    EXPECT_EQ(UiLib::GetWindowProc(hwnd_), &CCEF3Handler::OSRCEFProc);
    EXPECT_EQ(a->impl()->prevWndProc, original_);
    CefRefPtr<CCEF3Handler> b = Handler(false);
    EXPECT_EQ(UiLib::GetWindowProc(hwnd_), &CCEF3Handler::OSRCEFProc);
    EXPECT_EQ(b->impl()->prevWndProc, original_);  // not the watcher's own procedure
    EXPECT_EQ(Watchers(), 2u);
    EXPECT_FALSE(b->IsWindowLessCEF());

    // Registering again changes nothing.
    a->DealOSRInputMsg(hwnd_, true);
    EXPECT_EQ(Watchers(), 2u);

    a->DealOSRInputMsg(nullptr, true);
    EXPECT_EQ(UiLib::GetWindowProc(hwnd_), &CCEF3Handler::OSRCEFProc);
    EXPECT_EQ(a->impl()->prevWndProc, nullptr);
    EXPECT_EQ(Watchers(), 1u);
    // Messages still reach the window's own procedure through the remaining one.
    UiLib::SendMessageW(hwnd_, WM_USER + 5, 1, 2);
    EXPECT_TRUE(window_->Saw(WM_USER + 5));

    b->DealOSRInputMsg(reinterpret_cast<HWND>(0x77), false);  // any other window unregisters too
    EXPECT_EQ(UiLib::GetWindowProc(hwnd_), original_);
    EXPECT_EQ(CCEF3Handler::s_HandlerMap.count(hwnd_), 0u);
    handlers_.clear();  // the test's own references are the last ones
    EXPECT_TRUE(a->HasOneRef());
    EXPECT_TRUE(b->HasOneRef());
}

TEST_F(Watch, OnlyWindowlessHandlersTranslateInput) {
    // A button put on the display, then waited for until the window's own
    // procedure saw its `count`th message of that kind.
    auto button = [this](bool press, size_t count) {
        qmtest::PutButton(qmtest::GdkWindowOf(hwnd_), 50, 50, 1, press);
        UINT message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        return qmtest::PumpMainLoopUntil([&] { return window_->Of(message).size() >= count; }, 10s);
    };
    CefRefPtr<CCEF3Handler> windowed = Handler(false);
    ASSERT_TRUE(button(true, 1));
    EXPECT_EQ(UiLib::GetCapture(), nullptr);
    ASSERT_TRUE(button(false, 1));

    CefRefPtr<CCEF3Handler> windowless = Handler(true);
    ASSERT_TRUE(button(true, 2));
    EXPECT_EQ(UiLib::GetCapture(), hwnd_);  // taken by the input translation
    ASSERT_TRUE(button(false, 2));
    EXPECT_EQ(UiLib::GetCapture(), nullptr);
    EXPECT_EQ(window_->Of(WM_LBUTTONDOWN).size(), 2u);
}

TEST_F(Watch, ACloseBeforeTheBrowserExistsClosesTheWindow) {
    CefRefPtr<CCEF3Handler> h = Handler(true);
    UiLib::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_EQ(Watchers(), 0u);
    EXPECT_FALSE(UiLib::IsWindow(hwnd_));  // the default procedure destroyed it
    handlers_.clear();
    EXPECT_TRUE(h->HasOneRef());
}

TEST_F(Watch, ADestroyedWindowIsWatchedNoMore) {
    CefRefPtr<CCEF3Handler> a = Handler(true);
    CefRefPtr<CCEF3Handler> b = Handler(true);
    UiLib::DestroyWindow(hwnd_);
    EXPECT_EQ(CCEF3Handler::s_HandlerMap.count(hwnd_), 0u);
    EXPECT_EQ(a->impl()->prevWndProc, nullptr);
    handlers_.clear();
    EXPECT_TRUE(a->HasOneRef());
    EXPECT_TRUE(b->HasOneRef());
    a->DealOSRInputMsg(nullptr, true);  // harmless afterwards
}

TEST_F(Watch, MovesAndEraseRequestsPassOnToTheWindow) {
    Handler(true);
    Handler(false);
    UiLib::SendMessageW(hwnd_, WM_MOVE, 0, 0);
    UiLib::SendMessageW(hwnd_, WM_ERASEBKGND, 0, 0);  // no browser yet: the window erases
    EXPECT_EQ(window_->Of(WM_MOVE).size(), 1u);
    EXPECT_EQ(window_->Of(WM_ERASEBKGND).size(), 1u);
}

TEST_F(Watch, MinimisingHidesTheBrowserAndRestoringShowsOnlyWhatItHid) {
    CefRefPtr<CCEF3Handler> shown = Handler(true);
    CefRefPtr<CCEF3Handler> keptHidden = Handler(true);
    keptHidden->ShowBrowser(false);  // its owner hides it until its first page
    UiLib::SendMessageW(hwnd_, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_TRUE(shown->impl()->hidden);
    EXPECT_TRUE(keptHidden->impl()->hidden);
    UiLib::SendMessageW(hwnd_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    EXPECT_FALSE(shown->impl()->hidden);
    EXPECT_TRUE(keptHidden->impl()->hidden);
    UiLib::SendMessageW(hwnd_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
    EXPECT_TRUE(keptHidden->impl()->hidden);
}

TEST_F(Watch, ASizeGivenBeforeTheBrowserExistsIsKept) {
    CefRefPtr<CCEF3Handler> h = Handler(true);
    h->SetCEFSize(RECT{5, 6, 105, 56});
    CefRect view;
    ASSERT_TRUE(h->GetViewRect(nullptr, view));
    EXPECT_EQ(view.x, 5);
    EXPECT_EQ(view.y, 6);
    EXPECT_EQ(view.width, 100);
    EXPECT_EQ(view.height, 50);
    EXPECT_EQ(h->impl()->boundary, (RECT{5, 6, 105, 56}));
}

TEST_F(Watch, AWindowedHandlerHasNoBitmapToLock) {
    CefRefPtr<CCEF3Handler> windowed = Handler(false);
    EXPECT_EQ(windowed->LockOSRBitmap(), nullptr);
    windowed->UnLockOSRBitmap();
    CefRect view;
    EXPECT_FALSE(windowed->GetViewRect(nullptr, view));
    CefRefPtr<CCEF3Handler> windowless = Handler(true);
    EXPECT_EQ(windowless->LockOSRBitmap(), nullptr);  // no frame yet
    windowless->UnLockOSRBitmap();
}

}  // namespace
