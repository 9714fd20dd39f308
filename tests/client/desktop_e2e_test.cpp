// The main window on a small desktop as users have it: a 1366 x 768 screen, a
// window manager (openbox) and a panel with a tray at the top that keeps its
// strip of the screen. The real qm_main, real X input through xdotool: the
// window fits the work area, its edges resize it (not below the skin's
// minimum), a double click on its band maximises and restores it, the tray
// menu opens inside the work area as a popup of its own, and the window
// manager's close hides the window only where a tray shows its icon.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/network.h"
#include "tests/support/process.h"
#include "tests/support/session.h"
#include "tests/support/status_notifier.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;
using qmtest::XWindowInfo;

namespace {

constexpr int kPanel = 28;        // the panel's strip at the top of the screen
constexpr int kTitleBand = 28;    // the skin's title band
constexpr int kMinWidth = 800;    // the skin's smallest size
constexpr int kMinHeight = 560;

std::string Capture(const std::vector<std::string>& argv) {
    std::string out;
    qmtest::RunProcess(argv, 10s, {}, &out);
    return out;
}

std::string Xprop(const std::string& id, const std::string& property) {
    if (id == "root") return Capture({"/usr/bin/xprop", "-root", property});
    return Capture({"/usr/bin/xprop", "-id", id, property});
}

// The window manager's record of a client: "Normal", "Iconic", "Withdrawn" or "".
std::string WmState(const std::string& id) {
    std::string out = Xprop(id, "WM_STATE");
    for (const char* state : {"Normal", "Iconic", "Withdrawn"})
        if (out.find(std::string("window state: ") + state) != std::string::npos) return state;
    return "";
}

bool Maximised(const std::string& id) {
    std::string out = Xprop(id, "_NET_WM_STATE");
    return out.find("_NET_WM_STATE_MAXIMIZED_VERT") != std::string::npos &&
           out.find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos;
}

// The first work area of the screen (x, y, width, height).
bool WorkArea(int area[4]) {
    std::string out = Capture({"/usr/bin/xprop", "-root", "_NET_WORKAREA"});
    size_t eq = out.find('=');
    return eq != std::string::npos &&
           std::sscanf(out.c_str() + eq + 1, " %d, %d, %d, %d", &area[0], &area[1], &area[2], &area[3]) == 4;
}

// A program of the desktop's, ended with the test program.
int Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
    const qmtest::ExecPlan plan(argv, env);
    pid_t parent = getpid();
    int pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(0);
        plan.Exec();
        _exit(127);
    }
    return pid;
}

void Stop(int& pid) {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    pid = -1;
}

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The window manager runs for the whole program: it is the desktop.
        wmHome_ = new qmtest::TempDir();
        wmPid_ = Spawn({"openbox", "--sm-disable"}, {{"HOME", wmHome_->path()}});
    }
    static void TearDownTestSuite() {
        Stop(wmPid_);
        delete wmHome_;
    }

    void SetUp() override {
        ASSERT_TRUE(qmtest::WaitUntil([] { return Xprop("root", "_NET_SUPPORTING_WM_CHECK").find("window id") !=
                                                  std::string::npos; }, 30s))
            << "no window manager";
        web_.RoutePage("/page.html", R"(<!doctype html><html><head><title>d</title><style>
body{margin:0;background:#fff}#band{height:60px;background:#345}</style></head><body><div id="band"></div>
<script>var x = new XMLHttpRequest(); x.open('POST', '/loaded'); x.send('1');</script></body></html>)");
        web_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
        env_ = install_.PrepareHome();
        // No status notifier watcher: only an XEmbed tray shows the icon, if any.
        ASSERT_TRUE(bus_.started());
        env_["DBUS_SESSION_BUS_ADDRESS"] = bus_.address();
        // A loaded machine may stretch the gap between two clicks of one
        // double click: the user's desktop setting gives them a full second.
        std::string gtk = env_["XDG_CONFIG_HOME"] + "/gtk-3.0";
        qmtest::RunProcess({"/bin/mkdir", "-p", gtk}, 5s);
        ASSERT_TRUE(qmtest::WriteFile(gtk + "/settings.ini", "[Settings]\ngtk-double-click-time=1000\n"));
    }
    void TearDown() override {
        client_.Signal(SIGTERM);
        client_.Wait(30s);
        Stop(panelPid_);
        // The work area is the whole screen again before the next test.
        qmtest::WaitUntil([] { int a[4]; return WorkArea(a) && a[1] == 0; }, 10s);
    }

    // The panel at the top of the screen, with a tray; it keeps its strip.
    void StartPanel() {
        panelPid_ = Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200",
                           "--height", std::to_string(kPanel), "--SetDockType", "true", "--SetPartialStrut", "true"});
        // A bound for a machine at load 15, where the first panel of a
        // just started window manager took more than 30 s.
        int area[4] = {};
        ASSERT_TRUE(qmtest::WaitUntil([&] { return WorkArea(area) && area[1] == kPanel; }, 120s))
            << "the panel keeps no strip: work area " << area[0] << "," << area[1] << " " << area[2] << "x"
            << area[3];
    }
    void Start() {
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url("/page.html")), env_, install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << Output();
        ASSERT_TRUE(web_.WaitForRequest("/loaded", 60s)) << Output();
        main_ = *qmtest::FindMainWindow();
    }
    std::string Output() const { return qmtest::ReadFile(install_.Path("client.out")); }
    XWindowInfo Now() const { return qmtest::FindMainWindow().value_or(XWindowInfo()); }
    // Waits until the main window holds still (the window manager has done
    // what it was asked) and gives it then.
    XWindowInfo Settled() const {
        XWindowInfo last = Now();
        qmtest::WaitUntil([&] {
            std::this_thread::sleep_for(150ms);
            XWindowInfo now = Now();
            bool same = now.x == last.x && now.y == last.y && now.width == last.width && now.height == last.height;
            last = now;
            return same;
        }, 10s);
        return last;
    }
    // A press at (x, y) dragged by (dx, dy). The window manager takes the
    // pointer only once the client has asked it to; motion before that goes
    // to the client and is lost, so the first step is made again (a pixel
    // either way) until the window follows it. Then the window manager holds
    // the pointer and gets the rest in order.
    bool Drag(int x, int y, int dx, int dy) {
        auto at = [](int v) { return std::to_string(v); };
        XWindowInfo start = Now();
        if (!qmtest::XDo({"mousemove", at(x), at(y), "mousedown", "1"})) return false;
        int tries = 0;
        bool follows = qmtest::WaitUntil(
            [&] {
                if (tries % 10 == 0)
                    qmtest::XDo({"mousemove", at(x + dx / 5 + (tries / 10) % 2), at(y + dy / 5)});
                ++tries;
                XWindowInfo now = Now();
                return now.x != start.x || now.y != start.y || now.width != start.width ||
                       now.height != start.height;
            },
            20s);
        std::vector<std::string> rest;
        for (int step = 2; step <= 5; ++step)
            rest.insert(rest.end(), {"mousemove", at(x + dx * step / 5), at(y + dy * step / 5)});
        rest.insert(rest.end(), {"mouseup", "1"});
        return qmtest::XDo(rest) && follows;
    }
    bool DoubleClick(int x, int y) {
        return qmtest::XDo({"mousemove", std::to_string(x), std::to_string(y), "sleep", "0.5", "click", "--repeat",
                            "2", "--delay", "80", "1"});
    }

    static qmtest::TempDir* wmHome_;
    static int wmPid_;
    int panelPid_ = -1;
    qmtest::SessionBus bus_;
    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    std::map<std::string, std::string> env_;
    XWindowInfo main_;
};

qmtest::TempDir* Desktop::wmHome_ = nullptr;
int Desktop::wmPid_ = -1;

// The skin asks for 1280 x 800; the screen leaves 1366 x 740 below the panel.
TEST_F(Desktop, OnASmallScreenTheWindowOpensInsideTheWorkArea) {
    StartPanel();
    Start();
    XWindowInfo w = Settled();
    EXPECT_GE(w.y, kPanel);
    EXPECT_LE(w.y + w.height, 768);
    EXPECT_GE(w.x, 0);
    EXPECT_LE(w.x + w.width, 1366);
    EXPECT_EQ(w.width, 1280);
}

TEST_F(Desktop, AnEdgeResizesTheWindowButNotBelowTheSkinsMinimum) {
    Start();
    XWindowInfo before = Settled();
    // The right edge, halfway down, 150 pixels to the left.
    ASSERT_TRUE(Drag(before.x + before.width - 2, before.y + before.height / 2, -150, 0));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Now().width == before.width - 150; }, 10s)) << Now().width;
    EXPECT_EQ(Settled().height, before.height);
    // The bottom edge far up: the window stops at the skin's smallest height.
    XWindowInfo now = Settled();
    ASSERT_TRUE(Drag(now.x + now.width / 2, now.y + now.height - 2, 0, -500));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Now().height == kMinHeight; }, 10s)) << Now().height;
    // And the right edge far to the left.
    now = Settled();
    ASSERT_TRUE(Drag(now.x + now.width - 2, now.y + now.height / 2, -700, 0));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Now().width == kMinWidth; }, 10s)) << Now().width;
}

// What the user made of the window (a narrower window, moved by its band)
// is what the next start opens; a maximised window opens maximised again.
TEST_F(Desktop, TheSizeAndPlaceTheUserGaveTheWindowComeBackAtTheNextStart) {
    Start();
    XWindowInfo first = Settled();
    ASSERT_TRUE(Drag(first.x + first.width - 2, first.y + first.height / 2, -200, 0));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Now().width == first.width - 200; }, 10s)) << Now().width;
    XWindowInfo narrow = Settled();
    ASSERT_TRUE(Drag(narrow.x + 300, narrow.y + kTitleBand / 2, 40, -30));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Now().x != narrow.x; }, 10s)) << Output();
    XWindowInfo moved = Settled();

    client_.Signal(SIGTERM);
    ASSERT_NE(client_.Wait(30s), -1) << Output();
    web_.ClearRequests();
    Start();
    XWindowInfo again = Settled();
    EXPECT_EQ(again.width, moved.width);
    EXPECT_EQ(again.height, moved.height);
    EXPECT_EQ(again.x, moved.x);
    EXPECT_EQ(again.y, moved.y);

    ASSERT_TRUE(DoubleClick(again.x + 300, again.y + kTitleBand / 2));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Maximised(main_.id); }, 10s)) << Output();
    client_.Signal(SIGTERM);
    ASSERT_NE(client_.Wait(30s), -1) << Output();
    web_.ClearRequests();
    Start();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Maximised(main_.id); }, 10s)) << Output();
    // Restored, it is the size it had before it was maximised.
    ASSERT_TRUE(DoubleClick(300, kTitleBand / 2));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !Maximised(main_.id); }, 10s));
    EXPECT_EQ(Settled().width, moved.width);
}

TEST_F(Desktop, ADoubleClickOnTheBandMaximisesTheWindowAndAnotherRestoresIt) {
    StartPanel();
    Start();
    XWindowInfo before = Settled();
    // The page's band, below the title band.
    ASSERT_TRUE(DoubleClick(before.x + 400, before.y + kTitleBand + 30));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return Maximised(main_.id); }, 10s)) << Output();
    XWindowInfo big = Settled();
    EXPECT_EQ(big.width, 1366);
    EXPECT_EQ(big.y, kPanel);
    EXPECT_EQ(big.height, 768 - kPanel);
    // The title band: back to the size it had.
    ASSERT_TRUE(DoubleClick(big.x + 300, big.y + kTitleBand / 2));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !Maximised(main_.id); }, 10s));
    XWindowInfo after = Settled();
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
}

// The tray menu for a right click on the icon in the top panel opens below the
// panel, whole, and is a popup no window manager places: a press elsewhere
// closes it.
TEST_F(Desktop, TheTrayMenuOpensBelowAPanelAtTheTopAndAPressElsewhereClosesIt) {
    StartPanel();
    Start();
    std::optional<XWindowInfo> icon;
    ASSERT_TRUE(qmtest::WaitUntil([&] { return (icon = qmtest::FindTrayIcon()).has_value(); }, 30s)) << Output();
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(icon->x + icon->width / 2),
                             std::to_string(icon->y + icon->height / 2), "click", "3"}));
    std::optional<XWindowInfo> menu;
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        menu = qmtest::FindXWindow("PX_MENU", "Menu");
        return menu && qmtest::IsViewable(menu->id);
    }, 10s)) << Output();
    EXPECT_GE(menu->y, kPanel);
    EXPECT_LE(menu->y + menu->height, 768);
    EXPECT_LE(menu->x + menu->width, 1366);
    EXPECT_NE(Capture({"/usr/bin/xwininfo", "-id", menu->id}).find("Override Redirect State: yes"), std::string::npos);
    // A press on the page: the menu goes, the client stays.
    ASSERT_TRUE(qmtest::XDo({"mousemove", "200", "500", "click", "1"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(menu->id); }, 10s));
    EXPECT_TRUE(client_.Running());
}

// Without a tray the window manager's close leaves the window on the
// taskbar (iconified), where the user finds it again; once a tray shows the
// icon, the same close hides the window to it.
TEST_F(Desktop, WithoutATrayTheWindowManagersCloseIconifiesAndWithOneItHides) {
    Start();
    ASSERT_TRUE(qmtest::XClient({"close", main_.id}).has_value());
    EXPECT_TRUE(qmtest::WaitUntil([&] { return WmState(main_.id) == "Iconic"; }, 20s)) << WmState(main_.id);
    EXPECT_TRUE(client_.Running()) << Output();

    StartPanel();
    ASSERT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 30s)) << "icon not embedded";
    // Back from the taskbar, then closed again.
    ASSERT_TRUE(qmtest::XDo({"windowactivate", main_.id}));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return WmState(main_.id) == "Normal"; }, 20s)) << WmState(main_.id);
    ASSERT_TRUE(qmtest::XClient({"close", main_.id}).has_value());
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main_.id) && WmState(main_.id) != "Iconic"; }, 20s))
        << WmState(main_.id);
    EXPECT_TRUE(client_.Running()) << Output();
}

}  // namespace

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    if (!qmtest::EnterPrivateNetwork()) qmtest::TakeTurnWithOtherClientTests();
    ::testing::InitGoogleTest(&argc, argv);
    qmtest::UsePrivateDisplay("1366x768x24");
    return RUN_ALL_TESTS();
}
