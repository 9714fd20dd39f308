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

using namespace std::chrono_literals;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

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
        qmtest::HttpResponse r;
        r.body = "<!doctype html><script>function post(p,b){var x=new XMLHttpRequest();x.open('POST',p);x.send(b||'');}"
                 "window.JsHandleCallBack=function(t){post('/reply',t);};"
                 "var x=new XMLHttpRequest();x.open('GET','/go');x.onload=function(){"
                 "  var huge=new Array(1000000).fill(7);"
                 "  KXWebApp.PostCPPTask('_get_client_info',huge);"
                 "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info',huge);"
                 "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','x'.repeat(262145));"
                 "  KXVantorAsyn.VantorCommunicateAsyn('_close_window','');"
                 "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');};x.send();</script>";
        return r;
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
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] {
            for (const auto& r : run.web().Requests())
                if (r.target == "/reply") return true;
            return false;
        },
        30s));
    std::string origin = run.web().Url("");
    const std::string limits = " refused: more than 16384 values or 262144 bytes of text";
    EXPECT_EQ(Count(run.Output(), "page call PostCPPTask from origin " + origin + limits), 1u) << run.Output();
    EXPECT_EQ(Count(run.Output(), "page call VantorCommunicateAsyn from origin " + origin + limits), 2u);
    size_t replies = 0;
    for (const auto& r : run.web().Requests()) replies += r.target == "/reply";
    EXPECT_EQ(replies, 1u) << "only the front-end's own small call is answered";
    EXPECT_EQ(run.Stop(), 0);
}

}  // namespace
