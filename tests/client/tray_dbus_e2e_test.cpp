// The real client's tray on a private session bus: a StatusNotifierItem that a
// test watcher and host drive over D-Bus, and the XEmbed icon in trayer while
// no watcher runs.
#include <gtest/gtest.h>

#include <signal.h>

#include "tests/client/command_page.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"
#include "tests/support/status_notifier.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;

namespace {

// Whether the window's WM_HINTS carry the urgency bit.
bool Urgent(const std::string& id) {
    std::string out;
    qmtest::RunProcess({"/usr/bin/xprop", "-id", id, "WM_HINTS"}, 10s, {}, &out);
    return out.find("urgency hint bit is set") != std::string::npos;
}

class DBusTray : public ::testing::Test {
protected:
    void SetUp() override {
        trayPid_ = qmtest::StartTrayHost();
        ASSERT_TRUE(bus_.started());
        qmtest::ServeCommandPage(web_);
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        env_ = install_.PrepareHome();
        env_["DBUS_SESSION_BUS_ADDRESS"] = bus_.address();
        install_.WriteDeploy(stats_.port());
    }
    void TearDown() override {
        if (trayPid_ > 0) kill(-trayPid_, SIGKILL), kill(trayPid_, SIGKILL);
    }
    void StartClient(const std::string& page) {
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url(page)), env_, install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << Output();
    }
    std::string Output() const { return qmtest::ReadFile(install_.Path("client.out")); }

    int trayPid_ = -1;
    qmtest::SessionBus bus_;
    qmtest::StatusNotifierHost host_{bus_.address()};
    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    std::map<std::string, std::string> env_;
};

TEST_F(DBusTray, TheHostRestoresTheWindowFollowsItsAttentionAndClosesItFromTheMenu) {
    ASSERT_TRUE(host_.StartWatcher());
    // The page hides the window to the tray, then asks for attention.
    StartClient("/cmd.html?cmd=_close_window,_notify_new_info");
    std::optional<std::string> item = host_.WaitForItem(30s);
    ASSERT_TRUE(item.has_value()) << Output();
    ASSERT_TRUE(web_.WaitForRequest("/ran", 30s));
    auto main = *qmtest::FindMainWindow();
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main.id); }, 10s));

    EXPECT_EQ(host_.StringProperty(*item, "Title"), "Rawen");
    // Flashing: the item's attention state and the window's urgency.
    EXPECT_TRUE(host_.WaitForString(*item, "Status", "NeedsAttention", 10s));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Urgent(main.id); }, 10s));
    // Shown by the host only: nothing in the XEmbed tray.
    EXPECT_FALSE(qmtest::FindTrayIcon().has_value());

    // The host's click restores the window and ends the attention.
    ASSERT_TRUE(host_.Call(*item, "Activate"));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return qmtest::IsViewable(main.id); }, 10s));
    EXPECT_TRUE(host_.WaitForString(*item, "Status", "Active", 10s));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !Urgent(main.id); }, 10s));

    // The client's own menu, read and chosen over dbusmenu.
    std::vector<qmtest::MenuEntry> menu = host_.Menu(*item);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].label, "Open");
    EXPECT_EQ(menu[1].label, "Close");
    ASSERT_TRUE(host_.ClickMenu(*item, menu[1].id));
    EXPECT_EQ(client_.Wait(30s), 0) << Output();
}

TEST_F(DBusTray, TheIconStaysInTheXEmbedTrayUntilAWatcherAppears) {
    StartClient("/cmd.html");
    ASSERT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 20s)) << "icon not embedded";
    EXPECT_TRUE(host_.Items().empty());

    ASSERT_TRUE(host_.StartWatcher());
    ASSERT_TRUE(host_.WaitForItem(30s).has_value()) << Output();
    EXPECT_TRUE(qmtest::WaitUntil([] { return !qmtest::FindTrayIcon().has_value(); }, 10s))
        << "the XEmbed icon stayed in the tray";

    // The watcher goes: back into the tray.
    host_.StopWatcher();
    EXPECT_TRUE(qmtest::WaitUntil([] { return qmtest::FindTrayIcon().has_value(); }, 20s));
    client_.Signal(SIGTERM);
    EXPECT_EQ(client_.Wait(30s), 0);
}

}  // namespace
