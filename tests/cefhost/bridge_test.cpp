// The JavaScript bridge between pages and native code, end to end: real pages
// on 127.0.0.1 and real web processes loading the test extension modules.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "launcher/bridge/web_wnd_manager.h"
#include "platform/text.h"
#include "tests/cefhost/support/page_fixture.h"
#include "tests/support/fake_web_wnd.h"
#include "tests/support/main_loop.h"

using namespace std::chrono_literals;

namespace qmtest {
namespace {

// Every page reports through the bridge itself.
const char kReport[] =
    "<script>function report(o){KXWebApp.PostCPPTask('report', JSON.stringify(o));}</script>";

std::string WithReport(const std::string& body) { return std::string(kReport) + body; }

class BridgeTest : public PageTest {
protected:
    // Opens a page and waits until it reported `n` times; returns the last report.
    CefRefPtr<CCEF3Handler> OpenReporting(const std::string& path, const std::string& body) {
        Page(path, WithReport(body));
        BrowserRecorder* rec = new BrowserRecorder();
        recorders_.emplace_back(rec);
        return Open(Url(path), rec);
    }
    // Hands the pages' calls to `manager`, whose front-end is the pages' server.
    void CallsTo(QNInterface::QNCEF::QNWebWndManager& manager) {
        std::string origin = Url("/");
        manager.AllowOrigin(origin.substr(0, origin.size() - 1));
        CCEF3Manager::SetJSCallBackHandler(&manager);
    }
    std::vector<std::unique_ptr<BrowserRecorder>> recorders_;
};

TEST_F(BridgeTest, PostWithoutCallbackSendsIdsFromZeroAndArgumentsAfterTheCallbackSlot) {
    Page("/post.html", "<script>KXWebApp.PostCPPTask('a','b');KXWebApp.PostCPPTask('a','b');</script>");
    BrowserRecorder rec;
    auto handler = Open(Url("/post.html"), &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return JsHandler().CallsFor("a").size() >= 2; }));
    auto calls = JsHandler().CallsFor("a");
    for (int i = 0; i < 2; ++i) {
        const AsyncCall& c = calls[i];
        EXPECT_EQ(c.name, "PostCPPTask");
        EXPECT_EQ(c.browserId, handler->GetBrowserId());
        ASSERT_EQ(c.args.size(), 4u);
        EXPECT_EQ(c.args[0].vt, VT_I4);
        EXPECT_EQ(c.args[0].i, i);  // the first call of a web process has id 0
        EXPECT_EQ(c.args[1].vt, VT_EMPTY);
        EXPECT_EQ(c.args[2].Text(), "a");
        EXPECT_EQ(c.args[3].Text(), "b");
    }
}

TEST_F(BridgeTest, CallbackRunsAfterTheBrowserProcessHandledTheCallWithNoArguments) {
    auto h = OpenReporting("/cb.html",
                           "<script>KXWebApp.PostCPPTask('cb','x',function(){"
                           "report({args:arguments.length});});</script>");
    EXPECT_EQ(WaitReport(h.get()), "{\"args\":0}");
    auto calls = JsHandler().Calls();
    ASSERT_GE(calls.size(), 2u);
    // The call itself reached the browser process before the page's callback reported.
    EXPECT_EQ(calls[0].args[2].Text(), "cb");
    ASSERT_EQ(calls[0].args.size(), 4u);
    EXPECT_EQ(calls[0].args[0].vt, VT_I4);
    EXPECT_EQ(calls[0].args[1].vt, VT_EMPTY);
    EXPECT_EQ(calls[0].args[3].Text(), "x");
}

TEST_F(BridgeTest, PageArgumentsConvertByTypeAndAPlainObjectBecomesNull) {
    Page("/types.html",
         "<script>KXWebApp.PostCPPTask({}, 'b');"
         "KXWebApp.PostCPPTask('n', 5);KXWebApp.PostCPPTask('d', 2.5);KXWebApp.PostCPPTask('t', true);"
         "KXWebApp.PostCPPTask('nest', [1,[2,'x']]);KXWebApp.PostCPPTask('obj', {a:1});</script>");
    BrowserRecorder rec;
    Open(Url("/types.html"), &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return JsHandler().Calls().size() >= 6; }));
    auto calls = JsHandler().Calls();
    ASSERT_EQ(calls[0].args.size(), 4u);
    EXPECT_EQ(calls[0].args[2].vt, VT_EMPTY);  // the object, between convertible arguments
    EXPECT_EQ(calls[0].args[3].Text(), "b");
    EXPECT_EQ(calls[1].args[3].vt, VT_I4);
    EXPECT_EQ(calls[1].args[3].i, 5);
    EXPECT_EQ(calls[2].args[3].vt, VT_R8);
    EXPECT_DOUBLE_EQ(calls[2].args[3].d, 2.5);
    EXPECT_EQ(calls[3].args[3].vt, VT_BOOL);
    EXPECT_EQ(calls[3].args[3].i, 1);
    ASSERT_EQ(calls[4].args.size(), 4u);
    EXPECT_EQ(calls[4].args[3].vt, VT_EMPTY);  // lists have no VARIANT form
    // An unconvertible last argument leaves the list shorter.
    EXPECT_EQ(calls[5].args.size(), 3u);
}

TEST_F(BridgeTest, PageCommandRunsTheGlobalFunctionWithConvertedArguments) {
    auto h = OpenReporting("/cmd.html",
                           "<script>function show(){report(Array.prototype.slice.call(arguments).map("
                           "function(a){return [typeof a, a];}));}</script>");
    std::vector<VARIANT> args{platform::MakeI4Variant(5), platform::MakeBstrVariant(L"text \u4e2d")};
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("show", args, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get()), "[[\"number\",5],[\"string\",\"text \xe4\xb8\xad\"]]");
    for (VARIANT& v : args) VariantClear(&v);
}

TEST_F(BridgeTest, BoolIsTrueWhenNonZeroAndDatesAndObjectsArriveAsNull) {
    auto h = OpenReporting("/bool.html",
                           "<script>function show(){report(Array.prototype.slice.call(arguments));}</script>");
    std::vector<VARIANT> args(5);
    for (VARIANT& v : args) VariantInit(&v);
    args[0].vt = VT_BOOL;
    args[0].boolVal = 7;
    args[1].vt = VT_DATE;
    args[1].date = 45000.5;
    args[2].vt = VT_DISPATCH;
    args[3].vt = VT_BOOL;
    args[3].boolVal = 0;
    args[4].vt = VT_R8;
    args[4].dblVal = 0.25;
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("show", args, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get()), "[true,null,null,false,0.25]");
}

TEST_F(BridgeTest, PreparedArgumentsFollowTheCommandsAndTheResultReachesTheHandler) {
    auto h = OpenReporting("/extra.html",
                           "<script>function withExtra(){report(Array.prototype.slice.call(arguments));return 3;}"
                           "function last(){report(KXWebApp.SendCPPTask('lastResult','withExtra'));}</script>");
    std::vector<VARIANT> args{platform::MakeI4Variant(1)};
    ASSERT_TRUE(CCEF3Manager::SendJsCommand("withExtra", args, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get(), 1), "[1,7,\"extra\"]");
    std::vector<VARIANT> none;
    ASSERT_TRUE(CCEF3Manager::SendJsCommand("last", none, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get(), 2), "\"withExtra|withExtra|R8:3\"");
}

TEST_F(BridgeTest, CommandsForUnknownBrowsersOrMissingFunctionsDoNothing) {
    auto h = OpenReporting("/none.html", "<script>function ping(){report('pong');}</script>");
    std::vector<VARIANT> none;
    EXPECT_FALSE(CCEF3Manager::SendJsCommand("ping", none, h->GetBrowserId() + 1000));
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("noSuchFunction", none, h->GetBrowserId()));
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("report", none, h->GetBrowserId()));  // not a function of ours to break
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("ping", none, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get()), "\"pong\"");
}

TEST_F(BridgeTest, CommandsFromOtherThreadsArriveInOrder) {
    auto h = OpenReporting("/thread.html", "<script>var seen=[];function add(n){seen.push(n);"
                                           "if(seen.length==50)report(seen.join(','));}</script>");
    int id = h->GetBrowserId();
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (int i = 0; i < 50; ++i) {
            std::vector<VARIANT> args{platform::MakeI4Variant(i)};
            CCEF3Manager::SendJsCommand("add", args, id);
        }
        sent = true;
    });
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += (i ? "," : "") + std::to_string(i);
    std::string report = WaitReport(h.get());
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(report, "\"" + expected + "\"");
}

TEST_F(BridgeTest, SynchronousCallsReturnWhatTheRenderHandlerSet) {
    auto h = OpenReporting(
        "/sync.html",
        "<script>var S=KXVantorSyn.VantorCommunicateSync;"
        "report([S('number','x'),S('double','x'),S('bool','x'),typeof S('date','x'),typeof S('nothing','x'),"
        "S('req','json'),KXWebApp.SendCPPTask('a',1)]);</script>");
    std::string id = std::to_string(h->GetBrowserId());
    EXPECT_EQ(WaitReport(h.get()), "[42,2.5,true,\"undefined\",\"undefined\",\"sync|VantorCommunicateSync|" + id +
                                       "|BSTR:req|BSTR:json\",\"sync|SendCPPTask|" + id + "|BSTR:a|R8:1\"]");
}

TEST_F(BridgeTest, SynchronousCallsWithoutARenderHandlerGiveUndefined) {
    UseExtension("bare");
    auto h = OpenReporting("/bare.html",
                           "<script>report([typeof KXVantorSyn.VantorCommunicateSync('number','x'),"
                           "typeof KXWebApp.SendCPPTask('number','x'),typeof KXVantorAsyn]);</script>");
    EXPECT_EQ(WaitReport(h.get()), "[\"undefined\",\"undefined\",\"object\"]");
}

TEST_F(BridgeTest, AsynchronousPageCallsReachTheWindowOfTheCallingBrowserOnly) {
    QNInterface::QNCEF::QNWebWndManager manager;
    CallsTo(manager);
    std::string page = WithReport(
        "<script>KXVantorAsyn.VantorCommunicateAsyn('_x','y \xe4\xb8\xad');"
        "KXVantorAsyn.VantorCommunicateAsyn('_short');KXWebApp.PostCPPTask('p','q');"
        "KXVantorAsyn.VantorCommunicateAsyn('_done','');</script>");
    Page("/a.html", page);
    Page("/b.html", "<p>b</p>");
    BrowserRecorder ra, rb;
    auto a = Open(Url("/a.html"), &ra, nullptr, false);
    auto b = Open(Url("/b.html"), &rb, nullptr, false);
    CCEF3Manager::SetJSCallBackHandler(&JsHandler());
    ASSERT_TRUE(PumpMainLoopUntil([&] { return a->GetBrowserId() != 0 && b->GetBrowserId() != 0; }));
    qmtest::FakeWebWnd wa(a->GetBrowserId()), wb(b->GetBrowserId());
    manager.AddWebWnd(&wb);
    manager.AddWebWnd(&wa);
    // The page may already have run: load it again now that the windows are registered.
    a->Reload();
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        auto requests = wa.Dispatched();
        return !requests.empty() && requests.back().first == "_done";
    }));
    auto requests = wa.Dispatched();
    ASSERT_GE(requests.size(), 2u);
    size_t start = requests.size() - 2;  // the last load's two dispatches
    EXPECT_EQ(requests[start], std::make_pair(std::string("_x"), std::string("y \xe4\xb8\xad")));
    // The short call and PostCPPTask (no request name) dispatch nothing.
    for (const auto& r : requests) EXPECT_NE(r.first, "");
    EXPECT_TRUE(wb.Dispatched().empty());
    manager.RemoveWebWnd(&wa);
    manager.RemoveWebWnd(&wb);
}

TEST_F(BridgeTest, AsynchronousPageCallsWithoutARegisteredWindowAreDropped) {
    QNInterface::QNCEF::QNWebWndManager manager;
    CallsTo(manager);
    Page("/c.html", "<script>KXVantorAsyn.VantorCommunicateAsyn('_x','y');</script>");
    BrowserRecorder rc;
    auto c = Open(Url("/c.html"), &rc);
    CCEF3Manager::SetJSCallBackHandler(&JsHandler());
    qmtest::FakeWebWnd other(c->GetBrowserId() + 1000);
    manager.AddWebWnd(&other);
    c->Reload();
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rc.Count(CEF3_EVENT_LOAD_END) >= 2; }));
    PumpMainLoopFor(200ms);
    EXPECT_TRUE(other.Dispatched().empty());
    manager.RemoveWebWnd(&other);
}

// An error page shown in place of a front-end address never speaks for the
// front-end: its calls carry no front-end origin.
TEST_F(BridgeTest, ADocumentShownInPlaceOfAFrontEndAddressGetsNoPageCommands) {
    QNInterface::QNCEF::QNWebWndManager manager;
    CallsTo(manager);
    auto call = [](const std::string& who) {
        return "<script>KXVantorAsyn.VantorCommunicateAsyn('_x','" + who + "');</script>";
    };
    Page("/front.html", call("front-end"));
    BrowserRecorder rec;
    auto h = Open(Url("/front.html"), &rec);
    CCEF3Manager::SetJSCallBackHandler(&JsHandler());
    qmtest::FakeWebWnd window(h->GetBrowserId());
    manager.AddWebWnd(&window);
    auto heard = [&](const std::string& who) {
        for (const auto& r : window.Dispatched())
            if (r.second == who) return true;
        return false;
    };
    // The front-end's own page is heard...
    h->Reload();
    ASSERT_TRUE(PumpMainLoopUntil([&] { return heard("front-end"); }));
    // ...the same call from a page standing in for it is not.
    window.ClearDispatched();
    int ends = rec.Count(3);
    h->GetBrowser()->GetMainFrame()->LoadString(platform::Utf8ToWide(call("stand-in") + "<p>stand-in</p>"),
                                                platform::Utf8ToWide(Url("/front.html")));
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.Count(3) > ends; }));
    // The front-end itself, loaded again, is heard again; its call comes
    // after the stand-in's over the same channel.
    EXPECT_EQ(platform::WideToUtf8(h->GetBrowser()->GetMainFrame()->GetURL()), "about:blank");
    h->GetBrowser()->GetMainFrame()->LoadURL(platform::Utf8ToWide(Url("/front.html")));
    ASSERT_TRUE(PumpMainLoopUntil([&] { return heard("front-end"); }));
    EXPECT_FALSE(heard("stand-in"));
    manager.RemoveWebWnd(&window);
}

// --- Bad input never breaks either process -------------------------------------------

TEST_F(BridgeTest, LargeStringsAndEmbeddedNullsCrossIntactBothWays) {
    auto h = OpenReporting(
        "/big.html",
        "<script>var big=new Array(87381).join('\xe4\xb8\xad');"  // with 'big', nearly all the text a call may carry
        "KXWebApp.PostCPPTask('big', big);"
        "report([KXWebApp.SendCPPTask('length', big),KXWebApp.SendCPPTask('length','a\\u0000b\\u0000'),"
        "KXWebApp.SendCPPTask('length','x\\ud800y'), KXWebApp.SendCPPTask('echo','x\\udc00')]);"
        "function back(s){report([s.length, s.charCodeAt(1)]);}</script>");
    EXPECT_EQ(WaitReport(h.get()), "[\"87380/0\",\"4/2\",\"3/0\",\"sync|SendCPPTask|" +
                                       std::to_string(h->GetBrowserId()) + "|BSTR:echo|BSTR:x\xef\xbf\xbd\"]");
    auto big = JsHandler().CallsFor("big");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].args[3].s.size(), 87380u);
    EXPECT_EQ(big[0].args[3].s[12345], L'\u4e2d');
    std::vector<VARIANT> args{platform::MakeBstrVariant(std::wstring(L"a\0b", 3))};
    ASSERT_TRUE(CCEF3Manager::SendJsCommand("back", args, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get(), 2), "[3,0]");
    VariantClear(&args[0]);
}

TEST_F(BridgeTest, DeepAndCyclicArraysAndBurstsAreHandledAndCallsBeyondTheLimitsRefused) {
    auto h = OpenReporting(
        "/deep.html",
        "<script>var a=[];for(var i=0;i<5000;i++)a=[a];var c=[1];c.push(c);"
        "KXWebApp.PostCPPTask('deep', a);KXWebApp.PostCPPTask('cyclic', c);"
        "var s=[];s[100000000]=1;KXWebApp.PostCPPTask('sparse', s);"
        "KXWebApp.PostCPPTask('million', new Array(1000000).fill(1));"
        "KXWebApp.PostCPPTask('text', 'x'.repeat(262145));"
        "for(var i=0;i<3000;i++)KXWebApp.PostCPPTask('burst', i);"
        "report(KXWebApp.SendCPPTask('still','alive'));</script>");
    std::string id = std::to_string(h->GetBrowserId());
    EXPECT_EQ(WaitReport(h.get()), "\"sync|SendCPPTask|" + id + "|BSTR:still|BSTR:alive\"");
    ASSERT_TRUE(PumpMainLoopUntil([&] { return JsHandler().CallsFor("burst").size() >= 3000; }));
    auto burst = JsHandler().CallsFor("burst");
    ASSERT_EQ(burst.size(), 3000u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(burst[i].args[3].i, i);
    // Ids keep counting through the burst.
    EXPECT_EQ(burst.back().args[0].i - burst.front().args[0].i, 2999);
    EXPECT_EQ(JsHandler().CallsFor("deep").size(), 1u);
    EXPECT_EQ(JsHandler().CallsFor("cyclic").size(), 1u);
    // Beyond the message limits a call never leaves the page's process.
    for (const char* refused : {"sparse", "million", "text"}) EXPECT_TRUE(JsHandler().CallsFor(refused).empty());
}

TEST_F(BridgeTest, APageThatNavigatesAwayWithCallsPendingLeavesBothProcessesWorking) {
    Page("/second.html", WithReport("<script>report(KXWebApp.SendCPPTask(location.pathname,''));</script>"));
    auto h = OpenReporting("/first.html",
                           "<script>for(var i=0;i<2000;i++)KXWebApp.PostCPPTask('pending',i,function(){});"
                           "location.replace('/second.html');</script>");
    std::string id = std::to_string(h->GetBrowserId());
    EXPECT_EQ(WaitReport(h.get()), "\"sync|SendCPPTask|" + id + "|BSTR:/second.html|BSTR:\"");
    std::vector<VARIANT> args{platform::MakeBstrVariant(L"after")};
    EXPECT_TRUE(CCEF3Manager::SendJsCommand("report", args, h->GetBrowserId()));
    EXPECT_EQ(WaitReport(h.get(), 2), "\"after\"");
    VariantClear(&args[0]);
}

}  // namespace
}  // namespace qmtest
