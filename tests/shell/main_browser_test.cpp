// The main window's browser id is asked for by the voice module's event
// thread (every voice event goes to the main window's page) while the UI
// thread lays the window out and gives its browser control a browser. The
// ThreadSanitizer stage runs this test: a read that is not ordered with the
// UI thread's writes is reported there.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/services/reply/main_web_wnd.h"
#include "core/shell/browser_ctrl.h"
#include "core/shell/ui_task_dispatcher.h"
#include "core/shell/web_wnd.h"
#include "kxcef/cef3_manager.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/uilib/test_util.h"

using namespace std::chrono_literals;

namespace {

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="320,240">
  <VerticalLayout>
    <BrowserCtrl name="browser" homepage="about:blank"/>
  </VerticalLayout>
</Window>)";

TEST(MainBrowserId, IsAskedFromTheEventThreadWhileTheWindowMakesItsBrowser) {
    UITaskDispatcher::Get()->EnsureWindow();
    // A browser host without a running engine: the control gets its handler,
    // whose browser never comes, so the id stays -1 throughout.
    CCEF3Manager::CEFPreapare();
    qmtest::TempDir dir;
    const std::string skinFile = dir.File("MainWnd.xml");
    ASSERT_TRUE(qmtest::WriteFile(skinFile, kSkin));
    const std::wstring skin(skinFile.begin(), skinFile.end());
    auto window = std::make_unique<QNInterface::WND::CQNWebWnd>(L"MainBrowserIdTest", skin, nullptr);
    SetMainWebWnd(window.get());

    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, wrong{0};
    std::thread events([&] {
        while (!stop.load()) {
            if (MainBrowserId() != -1) wrong.fetch_add(1);
            reads.fetch_add(1);
            std::this_thread::yield();
        }
    });

    ASSERT_TRUE(window->Create(nullptr, L"Main", WS_OVERLAPPEDWINDOW, 0, 10, 10, 320, 240));
    window->ShowWindow(true, false);
    bool hasHandler = qmtest::PumpMainLoopUntil(
        [&] { return window->browserCtrl() && window->browserCtrl()->handler(); }, 20s);
    // The event thread reads on after the handler came.
    int seen = reads.load();
    bool readOn = qmtest::WaitUntil([&] { return reads.load() > seen + 10; }, 20s);
    stop.store(true);
    events.join();
    SetMainWebWnd(nullptr);
    UiLib::DestroyWindow(window->GetHWND());

    EXPECT_TRUE(hasHandler);
    EXPECT_TRUE(readOn);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
