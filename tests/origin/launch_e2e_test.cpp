// What pages may have the desktop open, end to end: the real client, real
// clicks on its window, and a stand-in desktop handler reached through the
// real GIO launch path (a private XDG data folder whose .desktop handler
// writes down every address it is started with). Only the user's own click
// in the front-end opens anything, and only an http, https or mailto address;
// a foreign frame opens nothing, with or without a click.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
                           "x-scheme-handler/file", "x-scheme-handler/kxunknown", "text/plain",
                           "application/octet-stream"};
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
          refused + foreign.Url("/dl.bin") + " (no user action)"})
        EXPECT_TRUE(run.OutputHas(line, 30s)) << line << "\n" << run.Output();

    // The user clicks into the foreign frame: still nothing.
    ASSERT_TRUE(ClickPage(800, 350));
    ASSERT_TRUE(foreign.WaitForRequest("/foreign-opened", 30s));
    EXPECT_TRUE(run.OutputHas(refused + foreign.Url("/clicked.html") + " (the user acted in a page of " +
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

}  // namespace
