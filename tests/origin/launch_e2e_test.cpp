// What pages may have the desktop open, end to end: the real client, real
// clicks on its window, and a stand-in desktop handler reached through the
// real GIO launch path (a private XDG data folder whose .desktop handler
// writes down every address it is started with). Only a front-end document
// that the user has just clicked opens anything, once per click, and only an
// http, https or mailto address or one of the deployment's schemes; a foreign
// frame opens nothing, with or without a click, whatever it tries right after
// the user's click on the front-end; a link of another scheme leaves the
// front-end as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "tests/faults/client_harness.h"
#include "tests/support/x_probe.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;

namespace {

// The stand-in handler: the default for every scheme and file type the
// attacks try; each launch appends its address to `launches`.
void InstallStandInHandler(qmtest::ClientRun& run, const std::string& launches) {
    std::string share = run.env()["HOME"] + "/.local/share";
    std::string apps = share + "/applications";
    std::string config = run.env()["XDG_CONFIG_HOME"];
    for (const std::string& dir : {run.env()["HOME"] + "/.local", share, apps, config}) mkdir(dir.c_str(), 0700);
    std::string opener = run.Path("stand-in-opener.sh");
    ASSERT_TRUE(qmtest::WriteFile(opener, "#!/bin/sh\necho \"$1\" >> '" + launches + "'\n"));
    chmod(opener.c_str(), 0755);
    const char* types[] = {"x-scheme-handler/http", "x-scheme-handler/https", "x-scheme-handler/mailto",
                           "x-scheme-handler/file", "x-scheme-handler/kxunknown", "x-scheme-handler/example-app",
                           "text/plain", "application/octet-stream"};
    std::string mime = "MimeType=", defaults = "[Default Applications]\n";
    for (const char* t : types) {
        mime += std::string(t) + ";";
        defaults += std::string(t) + "=qm-stand-in-opener.desktop\n";
    }
    ASSERT_TRUE(qmtest::WriteFile(apps + "/qm-stand-in-opener.desktop",
                                  "[Desktop Entry]\nType=Application\nName=Stand-in opener\nNoDisplay=true\nExec=" +
                                      opener + " %u\n" + mime + "\n"));
    ASSERT_TRUE(qmtest::WriteFile(config + "/mimeapps.list", defaults));
    run.env()["XDG_DATA_HOME"] = share;
}

// Clicks at a point of the page (page coordinates; the page starts below the
// window's 28-pixel title band).
bool ClickPage(int x, int y) {
    auto main = qmtest::FindMainWindow();
    return main && qmtest::XDo({"mousemove", std::to_string(main->x + x), std::to_string(main->y + 28 + y), "click",
                                "1"});
}

// Clicks at a spot of a page that posts "/felt" on its first trusted press
// there, until it does (bounded: 20 clicks, each given 5 s).
bool ClickUntilThePageFeelsIt(qmtest::ClientRun& run, int x, int y) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (!ClickPage(x, y)) return false;
        if (run.web().WaitForRequest("/felt", 5s)) return true;
    }
    return false;
}

TEST(SystemLaunch, OnlyTheUsersClickInTheFrontEndOpensAnAddressAndOnlyAWebOne) {
    qmtest::ClientRun run;
    qmtest::HttpServer foreign;
    ASSERT_TRUE(foreign.Start());
    std::string launches = run.Path("launches.txt");
    InstallStandInHandler(run, launches);
    std::string landing = run.web().Url("/landing.html?user-click");
    // The front-end: a panel that opens the next address of its list on each
    // click, and a foreign frame beside it.
    run.web().Route("/front.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<div id=front style='position:absolute;left:0;top:200px;width:400px;height:200px;"
                    "background:#8ac'></div><iframe src='" + foreign.Url("/frame.html") +
                    "' style='position:absolute;left:600px;top:200px;width:400px;height:300px;border:0'></iframe>"
                    "<script>var next=['" + landing + "','file:///etc/passwd'];"
                    "document.getElementById('front').addEventListener('mousedown',function(){"
                    "var u=next.shift();if(u){window.open(u);post('/front-opened',u);}});</script>");
    });
    // The foreign frame tries on its own (addresses of every kind and a
    // download), then on the user's click.
    foreign.Route("/frame.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage("<div style='height:300px;background:#c88'></div><script>"
                    "window.open('file:///etc/passwd');window.open('kxunknown:x');"
                    "window.open('" + foreign.Url("/unasked.html") + "');"
                    "document.addEventListener('mousedown',function(){window.open('" + foreign.Url("/clicked.html") +
                    "');post('/foreign-opened');});"
                    "var d=document.createElement('iframe');d.src='/dl.bin';document.body.appendChild(d);"
                    "post('/frame-ready');</script>");
    });
    foreign.Route("/dl.bin", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.contentType = "application/octet-stream";
        r.headers.push_back({"Content-Disposition", "attachment; filename=\"kxtest-launch.bin\""});
        r.body = "data";
        return r;
    });
    foreign.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });

    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(90000)) << run.Output();
    ASSERT_TRUE(foreign.WaitForRequest("/frame-ready", 60s)) << run.Output();
    const std::string refused = "address not handed to the system's handler: ";
    for (const std::string& line :
         {refused + "file:///etc/passwd (only http, https and mailto addresses)",
          refused + "kxunknown:x (only http, https and mailto addresses)",
          refused + foreign.Url("/unasked.html") + " (no user action)",
          refused + foreign.Url("/dl.bin") +
              " (no front-end document asked for it, and the page holds a foreign document)"})
        EXPECT_TRUE(run.OutputHas(line, 30s)) << line << "\n" << run.Output();

    // The user clicks into the foreign frame: still nothing.
    ASSERT_TRUE(ClickPage(800, 350));
    ASSERT_TRUE(foreign.WaitForRequest("/foreign-opened", 30s));
    EXPECT_TRUE(run.OutputHas(refused + foreign.Url("/clicked.html") + " (asked for by a page of " +
                                  foreign.Url("") + ", not the front-end)",
                              30s))
        << run.Output();

    // The user clicks the front-end's panel: its address opens, once.
    ASSERT_TRUE(ClickPage(200, 300));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !qmtest::Lines(qmtest::ReadFile(launches)).empty(); }, 30s)) << run.Output();
    // A second click asks for a file: refused (the foreign frame's was the first such line).
    ASSERT_TRUE(ClickPage(200, 300));
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] { return qmtest::Occurrences(run.Output(), refused + "file:///etc/passwd (only http, https and mailto") == 2; }, 30s))
        << run.Output();
    ASSERT_TRUE(run.web().WaitForRequest("/front-opened", 30s, 2));
    EXPECT_EQ(run.web().RequestCount("/front-opened"), 2u);
    EXPECT_EQ(qmtest::Lines(qmtest::ReadFile(launches)), std::vector<std::string>{landing});
    EXPECT_EQ(run.Stop(), 0);
    foreign.Stop();
}

// Gives the client's window the keyboard focus, as a desktop does on a click
// (no window manager runs here): its page's focused frame hears "focus".
bool FocusMainWindow() {
    auto main = qmtest::FindMainWindow();
    return main && qmtest::XDo({"windowfocus", "--sync", main->id});
}

// Waits until the stand-in handler has been started `count` times in all.
bool WaitLaunches(const std::string& launches, size_t count) {
    return qmtest::WaitUntil([&] { return qmtest::Lines(qmtest::ReadFile(launches)).size() >= count; }, 30s);
}

const std::string kRefused = "address not handed to the system's handler: ";

TEST(SystemLaunch, AForeignFramesTricksRightAfterTheUsersClickOnTheFrontEndLaunchNothing) {
    qmtest::ClientRun run;
    qmtest::HttpServer foreign;
    ASSERT_TRUE(foreign.Start());
    std::string launches = run.Path("launches.txt");
    InstallStandInHandler(run, launches);
    std::string landing = run.web().Url("/landing.html?front");
    // The front-end opens one address of its own on the user's click; the
    // foreign frame beside it had the focus, so the click blurs it.
    run.web().Route("/front.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<div id=front style='position:absolute;left:0;top:200px;width:400px;height:200px;background:#8ac'></div>"
            "<iframe id=f src='" + foreign.Url("/frame.html") +
            "' style='position:absolute;left:600px;top:200px;width:400px;height:300px;border:0'></iframe>"
            "<script>document.getElementById('front').addEventListener('mousedown',function(){"
            "window.open('" + landing + "');post('/front-clicked');});</script>");
    });
    // Everything it tries comes after the user's click, in the same task or
    // a timer's, and a download every 400 ms from then on.
    foreign.Route("/frame.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<div style='height:300px;background:#c88'></div><script>var n=0,done=false;"
            "window.addEventListener('focus',function(){post('/frame-focused');});"
            "window.addEventListener('blur',function(){if(done)return;done=true;"
            "window.open('mailto:blur@x.test?attach=/etc/passwd');"
            "var a=document.createElement('a');a.href='mailto:link@x.test';a.target='_blank';"
            "document.body.appendChild(a);a.click();"
            "try{top.location='mailto:top@x.test';}catch(e){}"
            "var d=document.createElement('a');d.href='/dl.bin?link';d.download='x.bin';document.body.appendChild(d);d.click();"
            "setTimeout(function(){window.open('mailto:timer@x.test');post('/timer-done');},50);"
            "setInterval(function(){var i=document.createElement('iframe');i.src='/dl.bin?'+(++n);"
            "document.body.appendChild(i);},400);post('/blur-done');});post('/frame-ready');</script>");
    });
    foreign.Route("/dl.bin", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.contentType = "application/octet-stream";
        r.headers.push_back({"Content-Disposition", "attachment; filename=\"kxtest-launch.bin\""});
        r.body = "data";
        return r;
    });
    foreign.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });

    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(90000)) << run.Output();
    ASSERT_TRUE(foreign.WaitForRequest("/frame-ready", 60s)) << run.Output();
    // The user works in the foreign frame first (it has the focus), then
    // clicks the front-end.
    ASSERT_TRUE(FocusMainWindow());
    ASSERT_TRUE(ClickPage(800, 350));
    ASSERT_TRUE(foreign.WaitForRequest("/frame-focused", 30s)) << run.Output();
    ASSERT_TRUE(ClickPage(200, 300));
    ASSERT_TRUE(foreign.WaitForRequest("/blur-done", 30s)) << run.Output();
    ASSERT_TRUE(foreign.WaitForRequest("/timer-done", 30s));
    // Every attempt of the frame is turned away with a line of its own.
    for (const std::string& address :
         {std::string("mailto:blur@x.test?***"), std::string("mailto:link@x.test"), std::string("mailto:timer@x.test"),
          foreign.Url("/dl.bin?***")})
        EXPECT_TRUE(run.OutputHas(kRefused + address + " (", 30s)) << address << "\n" << run.Output();
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] { return qmtest::Occurrences(run.Output(), kRefused + foreign.Url("/dl.bin?***")) >= 4; }, 30s))
        << "the downloads every 400 ms\n" << run.Output();
    // Only the front-end's own address went out, once.
    ASSERT_TRUE(WaitLaunches(launches, 1)) << run.Output();
    EXPECT_EQ(qmtest::Lines(qmtest::ReadFile(launches)), std::vector<std::string>{landing});
    EXPECT_EQ(run.Stop(), 0);
    foreign.Stop();
}

TEST(SystemLaunch, APageThatFramesTheFrontEndLaunchesNothingOnTheUsersClickInIt) {
    qmtest::ClientRun run;
    qmtest::HttpServer foreign;
    ASSERT_TRUE(foreign.Start());
    std::string launches = run.Path("launches.txt");
    InstallStandInHandler(run, launches);
    std::string landing = run.web().Url("/landing.html?framed");
    // At the top the front-end goes to the foreign page; framed by it, it
    // opens its own address on the user's click.
    run.web().Route("/front.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<div id=front style='position:absolute;left:0;top:0;width:400px;height:300px;background:#8ac'></div>"
            "<script>if(top===window){post('/front-top','',function(){location.href='" + foreign.Url("/framer.html") +
            "';});}else{document.getElementById('front').addEventListener('mousedown',function(){"
            "window.open('" + landing + "');post('/front-clicked');});post('/framed');}</script>");
    });
    foreign.Route("/framer.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<div style='height:200px;background:#c88'></div><iframe src='" + run.web().Url("/front.html") +
            "' style='position:absolute;left:0;top:200px;width:400px;height:300px;border:0'></iframe><script>"
            "var done=false;document.addEventListener('mousedown',function(){if(document.hasFocus())post('/framer-focused');});"
            "window.addEventListener('blur',function(){if(done)return;done=true;"
            "window.open('mailto:framer@x.test');"
            "setTimeout(function(){window.open('mailto:framer-timer@x.test');"
            "location.href='mailto:framer-nav@x.test';post('/framer-done');},50);});</script>");
    });
    foreign.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });

    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(90000)) << run.Output();
    ASSERT_TRUE(run.web().WaitForRequest("/framed", 60s)) << run.Output();
    // The user works in the foreign page (it has the focus), then clicks the
    // front-end it frames.
    ASSERT_TRUE(FocusMainWindow());
    ASSERT_TRUE(ClickPage(600, 100));
    ASSERT_TRUE(foreign.WaitForRequest("/framer-focused", 30s)) << run.Output();
    ASSERT_TRUE(ClickPage(200, 350));
    ASSERT_TRUE(foreign.WaitForRequest("/framer-done", 30s)) << run.Output();
    for (const char* address : {"mailto:framer@x.test", "mailto:framer-timer@x.test", "mailto:framer-nav@x.test"})
        EXPECT_TRUE(run.OutputHas(kRefused + address + " (", 30s)) << address << "\n" << run.Output();
    ASSERT_TRUE(WaitLaunches(launches, 1)) << run.Output();
    EXPECT_EQ(qmtest::Lines(qmtest::ReadFile(launches)), std::vector<std::string>{landing});
    EXPECT_EQ(run.Stop(), 0);
    foreign.Stop();
}

// A front-end whose links start a companion program: it stays as it was and
// goes on answering; the desktop gets the address only when the deployment
// lists its scheme, and a mailto: address without the fields that attach files.
void RunCustomSchemeLinks(bool listed) {
    qmtest::ClientRun run;
    std::string launches = run.Path("launches.txt");
    InstallStandInHandler(run, launches);
    if (listed) {
        ASSERT_TRUE(run.WriteDeploy("[launch]\nschemes=example-app\n"));
    }
    run.web().Route("/front.html", [&](const qmtest::HttpRequest&) {
        return qmtest::ScriptedPage(
            "<a id=app href='example-app://open?x=1' style='position:absolute;left:0;top:0;width:300px;height:100px;"
            "display:block;background:#8ac'>app</a>"
            "<div id=set style='position:absolute;left:0;top:150px;width:300px;height:100px;background:#a8c'></div>"
            "<a id=mail href='mailto:x@y.test?attach=/etc/passwd&attachment=file:///etc/shadow&subject=Hi' "
            "style='position:absolute;left:0;top:300px;width:300px;height:100px;display:block;background:#ca8'>mail</a>"
            "<script>var calls=0;window.JsHandleCallBack=function(t){post('/reply',t);};"
            "function ask(){setTimeout(function(){KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');},300);}"
            "document.getElementById('app').addEventListener('click',ask);"
            "document.getElementById('mail').addEventListener('click',ask);"
            "document.getElementById('set').addEventListener('click',function(){"
            "location.href='example-app://set?y=2';ask();});"
            "var felt=false;document.addEventListener('mousedown',function(e){"
            "if(e.isTrusted&&!felt&&!e.target.closest('a,#set')){felt=true;post('/felt');}});"
            "post('/ready');</script>");
    });
    run.web().Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(run.Start("/front.html"));
    ASSERT_TRUE(qmtest::WaitMainWindowShown(90000)) << run.Output();
    ASSERT_TRUE(run.web().WaitForRequest("/ready", 60s)) << run.Output();
    // The page runs its scripts before the client has its load's end and
    // shows the view: a click before that finds no page. Clicks on an empty
    // spot until the page feels one, so that the links' clicks are not lost.
    ASSERT_TRUE(ClickUntilThePageFeelsIt(run, 150, 450)) << run.Output();

    // Each click: the page is still there and answers a command.
    size_t replies = 0;
    for (int y : {50, 200, 350}) {
        ASSERT_TRUE(ClickPage(150, y));
        ++replies;
        ASSERT_TRUE(run.web().WaitForRequest("/reply", 30s, replies)) << "click at " << y << "\n" << run.Output();
    }
    EXPECT_EQ(run.web().RequestCount("/ready"), 1u) << "the front-end was never replaced or loaded again";
    EXPECT_EQ(run.Logs().find("cannot reach"), std::string::npos) << run.Logs();
    EXPECT_TRUE(run.OutputHas("mailto: address handed on without its fields attach, attachment", 30s)) << run.Output();
    std::vector<std::string> expected;
    if (listed) {
        expected = {"example-app://open?x=1", "example-app://set?y=2", "mailto:x@y.test?subject=Hi"};
    } else {
        for (const char* address : {"example-app://open?***", "example-app://set?***"})
            EXPECT_TRUE(run.OutputHas(kRefused + address + " (only http, https and mailto addresses)", 30s))
                << run.Output();
        expected = {"mailto:x@y.test?subject=Hi"};
    }
    ASSERT_TRUE(WaitLaunches(launches, expected.size())) << run.Output();
    std::vector<std::string> got = qmtest::Lines(qmtest::ReadFile(launches));
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(run.Stop(), 0);
}

TEST(SystemLaunch, ALinkOfAListedSchemeGoesToTheDesktopAndTheFrontEndStays) { RunCustomSchemeLinks(true); }

TEST(SystemLaunch, ALinkOfAnUnlistedSchemeIsRefusedAndTheFrontEndStays) { RunCustomSchemeLinks(false); }

}  // namespace
