// The whole client with a second loopback origin: a page of another port,
// framed by the front-end and then navigated to, gets nothing from the
// client; documents are judged by their own origin, not their address; the
// front-end's own calls still work.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/faults/client_harness.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;

namespace {

TEST(ForeignOrigin, FramedAndNavigatedToGetsNoReplyWhileTheFrontEndStillDoes) {
    qmtest::ClientRun run;
    qmtest::HttpServer foreign;
    ASSERT_TRUE(foreign.Start());
    std::string other = "http://127.0.0.1:" + std::to_string(foreign.port());

    // The front-end frames the foreign page; once that page has made its call,
    // the front-end makes its own, reports how many replies it got in all, and
    // then, with every report delivered, goes to the foreign site.
    run.web().Route("/front.html", [other](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<script>var replies=[];"
            "window.JsHandleCallBack=function(t){replies.push(t);post('/front-reply',t,function(){"
            "  setTimeout(function(){post('/front-count',String(replies.length),function(){"
            "    location.href='" + other + "/top.html';});},1000);});};"
            "window.addEventListener('message',function(e){if(e.data==='framed-called')"
            "  setTimeout(function(){KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');},300);});"
            "</script><iframe src='" + other + "/framed.html'></iframe>");
    });
    foreign.Route("/framed.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/framed-reply',t);};"
                    "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');"
                    "KXVantorAsyn.VantorCommunicateAsyn('_nim_enum_player','');"
                    "post('/framed-called','',function(){parent.postMessage('framed-called','*');});</script>");
    });
    foreign.Route("/top.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/top-reply',t);};"
                    "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');"
                    "setTimeout(function(){post('/top-done');},1500);</script>");
    });
    foreign.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });

    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(foreign.WaitForRequest("/top-done", 90s))
        << "client running: " << run.process().Running() << " (exit code 3: another instance runs); "
        << run.process().Describe() << "\n"
        << run.Output();

    // The front-end got exactly its own answer.
    EXPECT_NE(run.web().BodyOf("/front-reply").find("\"cbfn\":\"_get_client_info\""), std::string::npos);
    EXPECT_EQ(run.web().BodyOf("/front-count"), "1");
    // The foreign page, framed or on top, got nothing.
    EXPECT_TRUE(foreign.WasRequested("/framed-called"));
    EXPECT_FALSE(foreign.WasRequested("/framed-reply"));
    EXPECT_FALSE(foreign.WasRequested("/top-reply"));
    // Each foreign call left one line naming its origin and its command.
    std::string log = run.Logs();
    EXPECT_EQ(qmtest::Occurrences(log, "page call \"_get_client_info\" from origin " + other + " refused"), 2u) << log;
    EXPECT_EQ(qmtest::Occurrences(log, "page call \"_nim_enum_player\" from origin " + other + " refused"), 1u) << log;
    EXPECT_NE(log.find("page commands accepted from: " + run.web().Url("/").substr(0, run.web().Url("/").size() - 1)),
              std::string::npos)
        << log;
    EXPECT_EQ(run.Stop(), 0);
    foreign.Stop();
}

// Script of a document that calls the client as `who`: its replies go to
// <base>/reply-<who>, and it says it called at <base>/called-<who>.
std::string CallerScript(const std::string& base, const std::string& who) {
    return "function post(p,b){var x=new XMLHttpRequest();x.open('POST','" + base + "'+p);x.send(b||'');}"
           "window.JsHandleCallBack=function(t){post('/reply-" + who + "',t);};"
           "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');post('/called-" + who + "');";
}

TEST(DocumentOrigin, SandboxedDocumentsAreRefusedAndDocumentsInheritingTheFrontEndsOriginServed) {
    qmtest::ClientRun run;
    std::string base = run.web().Url("");
    run.web().Route("/caller.html", [base](const qmtest::HttpRequest& r) {
        bool csp = r.target.find("csp=1") != std::string::npos;
        qmtest::HttpResponse page = qmtest::ScriptedPage("<script>" + CallerScript(base, csp ? "csp" : "sandboxed") + "</script>");
        if (csp) page.headers.push_back({"Content-Security-Policy", "sandbox allow-scripts"});
        return page;
    });
    // The front-end makes four kinds of frames of its own address or origin.
    run.web().Route("/front.html", [base](const qmtest::HttpRequest&) {
        std::string code = "function code(w){return " + std::string("\"") +
                           qmtest::JsonText(CallerScript(base, "WHO")) + "\".split('WHO').join(w);}";
        return qmtest::ScriptedPage("<script>" + code +
                    "function frame(set){var f=document.createElement('iframe');set(f);"
                    "document.body.appendChild(f);return f;}"
                    "frame(function(f){f.setAttribute('sandbox','allow-scripts');f.src='/caller.html';});"
                    "frame(function(f){f.src='/caller.html?csp=1';});"
                    "frame(function(f){f.srcdoc='<script>'+code('srcdoc')+'<\\/script>';});"
                    "frame(function(){}).contentWindow.eval(code('blank'));"
                    "frame(function(f){f.src=URL.createObjectURL(new Blob(['<script>'+code('blob')+'<\\/script>'],"
                    "{type:'text/html'}));});</script>");
    });
    ASSERT_TRUE(run.Start("/front.html"));
    for (const char* who : {"sandboxed", "csp", "srcdoc", "blank", "blob"})
        ASSERT_TRUE(run.web().WaitForRequest(std::string("/called-") + who, 90s)) << who << "\n" << run.Output();
    // Documents that inherit the front-end's origin are served, each getting its own reply.
    for (const char* who : {"srcdoc", "blank", "blob"}) {
        ASSERT_TRUE(run.web().WaitForRequest(std::string("/reply-") + who, 30s)) << who;
        EXPECT_NE(run.web().BodyOf(std::string("/reply-") + who).find("\"cbfn\":\"_get_client_info\""),
                  std::string::npos);
        EXPECT_EQ(run.web().RequestCount(std::string("/reply-") + who), 1u) << who;
    }
    // Sandboxed documents have an opaque origin, whatever their address: refused.
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] { return qmtest::Occurrences(run.Logs(), "page call \"_get_client_info\" from origin null refused") == 2; }, 30s))
        << run.Logs();
    EXPECT_FALSE(run.web().WasRequested("/reply-sandboxed"));
    EXPECT_FALSE(run.web().WasRequested("/reply-csp"));
    EXPECT_EQ(run.Stop(), 0);
}

TEST(Replies, EveryReplyGoesToTheDocumentThatCalledWhileItIsShown) {
    qmtest::ClientRun run;
    // A same-origin frame asks for an answer given at once and one given
    // later from a worker; a second frame asks and is gone before the answer.
    run.web().Route("/front.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<script>window.JsHandleCallBack=function(t){post('/front-reply',t);};</script>"
            "<iframe src='/inner.html'></iframe><iframe id=gone src='/gone.html'></iframe>");
    });
    run.web().Route("/inner.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/inner-reply',t);};"
                                    "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');"
                                    "KXVantorAsyn.VantorCommunicateAsyn('_nim_enum_player','');</script>");
    });
    run.web().Route("/gone.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>window.JsHandleCallBack=function(t){post('/gone-reply',t);};"
                                    "KXVantorAsyn.VantorCommunicateAsyn('_nim_enum_player','');"
                                    "parent.document.getElementById('gone').remove();</script>");
    });
    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(run.web().WaitForRequest("/inner-reply", 90s, 2)) << run.Output();
    std::vector<std::string> bodies;
    for (const auto& r : run.web().Requests())
        if (r.target == "/inner-reply") bodies.push_back(r.body);
    ASSERT_EQ(bodies.size(), 2u);
    std::sort(bodies.begin(), bodies.end());
    EXPECT_NE(bodies[0].find("\"cbfn\":\"_get_client_info\""), std::string::npos) << bodies[0];
    EXPECT_NE(bodies[1].find("\"cbfn\":\"_nim_enum_player\""), std::string::npos) << bodies[1];
    // The answer for the frame that went is dropped, with a line, and given to nobody else.
    EXPECT_TRUE(run.OutputHas("page command JsHandleCallBack dropped: the document it is for is no longer shown", 30s))
        << run.Output();
    EXPECT_FALSE(run.web().WasRequested("/front-reply"));
    EXPECT_FALSE(run.web().WasRequested("/gone-reply"));
    EXPECT_EQ(run.Stop(), 0);
}

TEST(PageCache, AFrontEndBackFromThePageCacheIsAnsweredAgain) {
    qmtest::ClientRun run;
    qmtest::HttpServer foreign;
    ASSERT_TRUE(foreign.Start());
    // The front-end asks once, goes to a foreign page that sends it back
    // through the history, and asks again once it is shown from the cache.
    run.web().Route("/front.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<script>window.JsHandleCallBack=function(t){post('/reply',t,function(){"
            "  if(!sessionStorage.left){sessionStorage.left='1';location.href='" + foreign.Url("/away.html") + "';}});};"
            "window.addEventListener('pageshow',function(e){post('/shown',String(e.persisted),function(){"
            "  KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');});});</script>");
    });
    foreign.Route("/away.html", [](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<script>post('/away','',function(){history.back();});</script>");
    });
    foreign.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(foreign.WaitForRequest("/away", 90s)) << run.Output();
    ASSERT_TRUE(run.web().WaitForRequest("/shown", 30s, 2)) << run.Output();
    std::vector<std::string> shown;
    for (const auto& r : run.web().Requests())
        if (r.target == "/shown") shown.push_back(r.body);
    ASSERT_EQ(shown, (std::vector<std::string>{"false", "true"})) << "the second showing comes from the page cache";
    EXPECT_TRUE(run.web().WaitForRequest("/reply", 30s, 2)) << run.Output();
    size_t loads = 0;
    for (const auto& r : run.web().Requests()) loads += r.target.rfind("/front.html", 0) == 0;
    EXPECT_EQ(loads, 1u) << "not loaded again";
    EXPECT_EQ(run.Stop(), 0);
    foreign.Stop();
}

}  // namespace
