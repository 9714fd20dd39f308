// Calls beyond the bridge's limits, end to end: a page that sends a million-
// element array or more text than a call may carry is refused in its own web
// process with one log line per call, and the client goes on answering at
// once (a window command right behind the calls takes effect within a bounded
// wait; the benchmark measures how long the UI thread stalls).
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "tests/faults/client_harness.h"
#include "tests/support/x_probe.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;

namespace {

TEST(CallLimits, HugeCallsAreRefusedInThePageAndTheClientAnswersAtOnce) {
    qmtest::ClientRun run;
    std::mutex lock;
    std::condition_variable changed;
    bool go = false;
    // The page waits until the window is up, then sends the huge calls, a
    // window command and one call of its own.
    run.web().Route("/go", [&](const qmtest::HttpRequest&) {
        std::unique_lock<std::mutex> l(lock);
        changed.wait_for(l, 90s, [&] { return go; });
        return qmtest::HttpResponse();
    });
    run.web().Route("/front.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<script>window.JsHandleCallBack=function(t){post('/reply',t);};"
            "var x=new XMLHttpRequest();x.open('GET','/go');x.onload=function(){"
            "  var huge=new Array(1000000).fill(7);"
            "  KXWebApp.PostCPPTask('_get_client_info',huge);"
            "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info',huge);"
            "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','x'.repeat(262145));"
            "  KXVantorAsyn.VantorCommunicateAsyn('_close_window','');"
            "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');};x.send();</script>");
    });
    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(90000)) << run.Output();
    auto main = qmtest::FindMainWindow();
    ASSERT_TRUE(main.has_value());
    {
        std::lock_guard<std::mutex> l(lock);
        go = true;
    }
    changed.notify_all();
    // Bounded: before these calls were refused in the page, such an array kept
    // the UI thread busy for minutes.
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main->id); }, 20s));
    ASSERT_TRUE(run.web().WaitForRequest("/reply", 30s));
    std::string origin = run.web().Url("");
    const std::string limits = " refused: more than 16384 values or 262144 bytes of text";
    EXPECT_EQ(qmtest::Occurrences(run.Output(), "page call PostCPPTask from origin " + origin + limits), 1u) << run.Output();
    EXPECT_EQ(qmtest::Occurrences(run.Output(), "page call VantorCommunicateAsyn from origin " + origin + limits), 2u);
    EXPECT_EQ(run.web().RequestCount("/reply"), 1u) << "only the front-end's own small call is answered";
    EXPECT_EQ(run.Stop(), 0);
}

}  // namespace
