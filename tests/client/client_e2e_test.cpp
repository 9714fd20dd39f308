// The whole client, end to end: the real qm_main on its private display with
// pages served on loopback, a statistics endpoint, and a tray host.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "platform/text.h"
#include "tests/client/command_page.h"
#include "tests/support/x_probe.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;
using qmtest::XWindowInfo;

namespace {

class Client : public ::testing::Test {
protected:
    static void SetUpTestSuite() { trayPid_ = qmtest::StartTrayHost(); }
    static void TearDownTestSuite() {
        if (trayPid_ > 0) kill(-trayPid_, SIGKILL), kill(trayPid_, SIGKILL);
    }

    void SetUp() override {
        web_.ServeDirectory(qmtest::SourceDir() + "/web");
        qmtest::ServeCommandPage(web_);
        web_.Route("/selftest", [this](const qmtest::HttpRequest& r) {
            std::lock_guard<std::mutex> lock(selftestLock_);
            selftest_ = r.body;
            return qmtest::HttpResponse();
        });
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        env_ = install_.PrepareHome();
        home_ = env_["HOME"];
        install_.WriteDeploy(stats_.port());
    }

    std::map<std::string, std::string> Env() const { return env_; }

    // Starts the client on `page` and waits until its main window is on screen.
    void StartClient(const std::string& page, std::vector<std::string> extra = {}) {
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url(page), extra), Env(), install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << qmtest::ReadFile(install_.Path("client.out"));
    }
    std::optional<XWindowInfo> MainWindow() const { return qmtest::FindMainWindow(); }
    // Whether the tray icon shows its picture (its centre differs from the panel's background).
    bool IconShown(const XWindowInfo& icon) {
        int centre[3], background[3];
        qmtest::Pixel(icon.x + icon.width / 2, icon.y + icon.height / 2, centre);
        qmtest::Pixel(icon.x - 3, icon.y + 1, background);
        return centre[0] != background[0] || centre[1] != background[1] || centre[2] != background[2];
    }
    std::vector<std::string> Reports() const {
        std::vector<std::string> bodies;
        for (const auto& r : stats_.Requests()) bodies.push_back(r.body);
        return bodies;
    }

    static int trayPid_;
    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    std::map<std::string, std::string> env_;
    std::string home_;
    std::mutex selftestLock_;
    std::string selftest_;
};

int Client::trayPid_ = -1;

}  // namespace

TEST_F(Client, ShowsTheDemoFrontEndWithItsTitleTrayIconAndShortcut) {
    StartClient("/");
    auto main = MainWindow();
    EXPECT_EQ(main->width, 1280);  // the skin's size
    EXPECT_EQ(main->height, 800);
    ASSERT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 20s)) << "icon not embedded";
    // The launch report names the channel and the version.
    ASSERT_TRUE(stats_.WaitForRequests(1, 30s));
    EXPECT_NE(Reports()[0].find("&cid=83302ACB1052&"), std::string::npos) << Reports()[0];
    EXPECT_NE(Reports()[0].find("&version=1.0.9.1&info=start&"), std::string::npos);
    // The desktop launcher starts this executable with the launch arguments.
    std::string shortcut = qmtest::ReadFile(home_ + "/Desktop/Rawen.desktop");
    EXPECT_NE(shortcut.find("Exec=\"" + install_.Path("qm_main") + "\" \"*url:\\\\\""), std::string::npos) << shortcut;
    // The screenshot stays with the build as a record of what the client showed.
    std::this_thread::sleep_for(2s);
    qmtest::RunProcess({"/bin/mkdir", "-p", qmtest::BinDir() + "/../artifacts"}, 5s);
    EXPECT_TRUE(qmtest::Screenshot(qmtest::BinDir() + "/../artifacts/client-demo.png"));
}

TEST_F(Client, TheDemoFrontEndUsesEveryServiceThroughJsHandleCallBack) {
    StartClient("/?selftest=1");
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(selftestLock_);
        return !selftest_.empty();
    }, 60s));
    std::lock_guard<std::mutex> lock(selftestLock_);
    EXPECT_EQ(selftest_.find("\"error\""), std::string::npos) << selftest_;
    // The test's deployment file names no voice server: the login fails cleanly.
    EXPECT_NE(selftest_.find("\"_nim_login\":{\"res\":false}"), std::string::npos) << selftest_;
    EXPECT_NE(selftest_.find("\"account\":\"selftest\""), std::string::npos) << selftest_;
    EXPECT_NE(selftest_.find("\"_nim_enum_device\":{\"devices\":"), std::string::npos) << selftest_;
    EXPECT_NE(selftest_.find("\"_nim_enum_player\":null"), std::string::npos) << selftest_;
    EXPECT_NE(selftest_.find("\"_get_client_info\":{\"boot_id\":\""), std::string::npos) << selftest_;
    EXPECT_NE(selftest_.find("\"version\":\"1.0.9.1\""), std::string::npos) << selftest_;

    // The page's calls went through the launcher's extension in the web
    // process, which carries the browser host's render side itself: no web
    // process maps the browser host library, the window library or its XML
    // parser.
    size_t read = 0;
    for (int pid : qmtest::ChildrenNamed(client_.pid(), "WebKitWebProces")) {
        std::string maps;
        if (!qmtest::ReadProcFile("/proc/" + std::to_string(pid) + "/maps", maps, 16 << 20)) continue;  // ended
        ++read;
        EXPECT_NE(maps.find("/webext/qm_main_render.so\n"), std::string::npos) << "web process " << pid;
        for (const char* library : {"/libKXCEF2.so", "/libKXUiLib.so", "/libpugixml.so"})
            EXPECT_EQ(maps.find(library), std::string::npos) << "web process " << pid << " maps " << library;
    }
    EXPECT_GE(read, 1u) << "no web process of the client";
}

TEST_F(Client, FlashingAlternatesUntilTheIconIsClicked) {
    StartClient("/cmd.html?cmd=_notify_new_info");
    ASSERT_TRUE(web_.WaitForRequest("/ran", 30s));
    std::optional<XWindowInfo> icon;
    ASSERT_TRUE(qmtest::WaitUntil([&] { return (icon = qmtest::FindTrayIcon()).has_value(); }, 20s));
    int shown = 0, hidden = 0;
    for (int i = 0; i < 20 && !(shown >= 2 && hidden >= 2); ++i) {
        (IconShown(*icon) ? shown : hidden)++;
        std::this_thread::sleep_for(120ms);
    }
    EXPECT_GE(shown, 2);
    EXPECT_GE(hidden, 2);
    // A left click restores the window and stops the flashing with the icon shown.
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(icon->x + icon->width / 2),
                             std::to_string(icon->y + icon->height / 2), "click", "1"}));
    std::this_thread::sleep_for(700ms);
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(IconShown(*icon)) << "sample " << i;
        std::this_thread::sleep_for(150ms);
    }
    EXPECT_TRUE(qmtest::IsViewable(MainWindow()->id));
}

TEST_F(Client, TheCloseBoxHidesToTheTrayAndTheTrayMenuEndsTheClient) {
    StartClient("/cmd.html");
    auto main = *MainWindow();
    ASSERT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 20s));
    // The skin's close button: the right end of the title band.
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(main.x + main.width - 20), std::to_string(main.y + 14),
                             "click", "1"}));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main.id); }, 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(client_.Running());

    // Right click: the menu opens with its bottom-left corner at the cursor; "Close" is its lower item.
    auto icon = *qmtest::FindTrayIcon();
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(icon.x + icon.width / 2),
                             std::to_string(icon.y + icon.height / 2), "click", "3"}));
    std::optional<XWindowInfo> menu;
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        menu = qmtest::FindXWindow("PX_MENU", "Menu");
        return menu && qmtest::IsViewable(menu->id);
    }, 10s));
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(menu->x + menu->width / 2),
                             std::to_string(menu->y + menu->height - 18), "click", "1"}));
    EXPECT_EQ(client_.Wait(30s), 0) << qmtest::ReadFile(install_.Path("client.out"));
    EXPECT_FALSE(qmtest::FindTrayIcon().has_value()) << "the icon outlived the client";
}

TEST_F(Client, ASecondStartWithAStartChannelSendsExactlyOneReport) {
    StartClient("/cmd.html");
    ASSERT_TRUE(stats_.WaitForRequests(1, 30s));
    std::vector<std::string> second{install_.Path("qm_main"), "*start_cid:ABC"};
    EXPECT_EQ(qmtest::RunProcess(second, 60s, Env()), 3);
    ASSERT_TRUE(stats_.WaitForRequests(2, 30s));
    std::this_thread::sleep_for(1s);
    int abc = 0;
    for (const auto& body : Reports()) abc += body.find("&cid=ABC&ccid=&tgid=") != std::string::npos;
    EXPECT_EQ(abc, 1);
    EXPECT_EQ(Reports().size(), 2u);
}

TEST_F(Client, PageCommandsMinimiseAndHideTheWindow) {
    StartClient("/cmd.html?cmd=_close_window");
    ASSERT_TRUE(web_.WaitForRequest("/ran", 30s));
    auto main = *MainWindow();
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main.id); }, 10s));
    EXPECT_TRUE(client_.Running());
}

TEST_F(Client, DraggingThePageBandMovesTheWindow) {
    StartClient("/cmd.html");
    ASSERT_TRUE(web_.WaitForRequest("/ran", 30s));
    auto before = *MainWindow();
    int x = before.x + 400, y = before.y + 28 + 30;  // inside the page's top band
    std::optional<XWindowInfo> after = qmtest::DragMainWindow(x, y, 50, 40);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->x - before.x, 50);
    EXPECT_EQ(after->y - before.y, 40);
}

TEST_F(Client, TerminationSignalEndsTheClientLikeTheTrayMenu) {
    StartClient("/cmd.html");
    ASSERT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 20s));
    client_.Signal(SIGTERM);
    EXPECT_EQ(client_.Wait(30s), 0);
    EXPECT_FALSE(qmtest::FindTrayIcon().has_value());
}

TEST(ClientWithoutSkin, AMissingMainSkinEndsTheLauncherWithCodeOne) {
    qmtest::ClientInstall install({"Skin/Main/ClientMainWnd.xml"});
    std::string out;
    EXPECT_EQ(qmtest::RunProcess({install.Path("qm_main")}, 60s, {}, &out), 1);
    EXPECT_NE(out.find("<CQNNormalWnd> This is an invalid window, please check it."), std::string::npos) << out;
}
