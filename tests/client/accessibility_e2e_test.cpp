// What a screen reader and a keyboard user find in the running client: an
// accessibility bus of the test's own (at-spi2 on a private session bus), the
// real qm_main on its private display, the accessible tree walked through
// libatspi as a screen reader walks it. The title band's buttons are push
// buttons named in words, their actions work, Tab reaches them and Space
// presses them; the tray menu's items are menu items the keyboard chooses.
#include <gtest/gtest.h>

#include <atspi/atspi.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <functional>

#include "tests/client/command_page.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"
#include "tests/support/status_notifier.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;

namespace {

std::string Name(AtspiAccessible* accessible) {
    gchar* name = atspi_accessible_get_name(accessible, nullptr);
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

// The first accessible under `root` (depth first, bounded) that `match` takes; a new reference.
AtspiAccessible* Find(AtspiAccessible* root, const std::function<bool(AtspiAccessible*)>& match, int depth = 12) {
    if (!root || depth < 0) return nullptr;
    atspi_accessible_clear_cache(root);
    if (match(root)) return static_cast<AtspiAccessible*>(g_object_ref(root));
    int count = atspi_accessible_get_child_count(root, nullptr);
    for (int i = 0; i < count && i < 200; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(root, i, nullptr);
        if (!child) continue;
        AtspiAccessible* found = Find(child, match, depth - 1);
        g_object_unref(child);
        if (found) return found;
    }
    return nullptr;
}

bool Is(AtspiAccessible* accessible, AtspiRole role, const std::string& name) {
    return atspi_accessible_get_role(accessible, nullptr) == role && Name(accessible) == name;
}

bool HasState(AtspiAccessible* accessible, AtspiStateType state) {
    atspi_accessible_clear_cache(accessible);
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    bool has = states && atspi_state_set_contains(states, state);
    if (states) g_object_unref(states);
    return has;
}

class ScreenReader : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The accessibility bus of this program's private desktop: its
        // launcher on a private session bus, its address on the display.
        bus_ = new qmtest::SessionBus();
        home_ = new qmtest::TempDir();
        const qmtest::ExecPlan plan({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"},
                                    {{"DBUS_SESSION_BUS_ADDRESS", bus_->address()},
                                     {"HOME", home_->path()},
                                     {"XDG_RUNTIME_DIR", home_->path()}});
        pid_t parent = getpid();
        launcherPid_ = fork();
        if (launcherPid_ == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(0);
            plan.Exec();
            _exit(127);
        }
        GDBusConnection* session =
            g_dbus_connection_new_for_address_sync(bus_->address().c_str(),
                                                   static_cast<GDBusConnectionFlags>(
                                                       G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, nullptr);
        if (!session) return;
        qmtest::WaitUntil([&] {
            GVariant* reply = g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                                          "GetAddress", nullptr, G_VARIANT_TYPE("(s)"),
                                                          G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
            if (!reply) return false;
            const gchar* address = nullptr;
            g_variant_get(reply, "(&s)", &address);
            a11yAddress_ = address ? address : "";
            g_variant_unref(reply);
            return !a11yAddress_.empty();
        }, 30s);
        g_object_unref(session);
        // This program reads the tree on that bus.
        setenv("AT_SPI_BUS_ADDRESS", a11yAddress_.c_str(), 1);
        atspi_init();
        trayPid_ = qmtest::StartTrayHost();
    }
    static void TearDownTestSuite() {
        if (trayPid_ > 0) kill(-trayPid_, SIGKILL), kill(trayPid_, SIGKILL);
        if (launcherPid_ > 0) kill(-launcherPid_, SIGTERM), kill(launcherPid_, SIGTERM);
        delete bus_;
        delete home_;
    }

    void SetUp() override {
        ASSERT_FALSE(a11yAddress_.empty()) << "no accessibility bus";
        qmtest::ServeCommandPage(web_);
        stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        ASSERT_TRUE(web_.Start());
        ASSERT_TRUE(stats_.Start());
        install_.WriteDeploy(stats_.port());
        auto env = install_.PrepareHome();
        env["DBUS_SESSION_BUS_ADDRESS"] = bus_->address();
        env["AT_SPI_BUS_ADDRESS"] = a11yAddress_;
        env["NO_AT_BRIDGE"] = "";  // the toolkit speaks to the bus
        ASSERT_TRUE(client_.Start(install_.ClientArgv(web_.Url("/cmd.html")), env, install_.Path("client.out")));
        ASSERT_TRUE(qmtest::WaitMainWindowShown(60000)) << Output();
        ASSERT_TRUE(web_.WaitForRequest("/ran", 60s)) << Output();
        main_ = *qmtest::FindMainWindow();
        ASSERT_TRUE(qmtest::WaitUntil([&] { return (app_ = App()) != nullptr; }, 30s)) << "the client is not on the bus";
    }
    void TearDown() override {
        if (app_) g_object_unref(app_);
        client_.Signal(SIGTERM);
        client_.Wait(30s);
    }

    // The client's application object on the accessibility bus.
    AtspiAccessible* App() {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        AtspiAccessible* app = nullptr;
        int count = atspi_accessible_get_child_count(desktop, nullptr);
        for (int i = 0; i < count && !app; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (child && Name(child) == "qm_main") app = child;
            else if (child) g_object_unref(child);
        }
        g_object_unref(desktop);
        return app;
    }
    // Waits for an accessible of `role` named `name` in the client; a new reference or null.
    AtspiAccessible* WaitFor(AtspiRole role, const std::string& name) {
        AtspiAccessible* found = nullptr;
        qmtest::WaitUntil([&] {
            found = Find(app_, [&](AtspiAccessible* a) { return Is(a, role, name); });
            return found != nullptr;
        }, 30s);
        return found;
    }
    std::string Output() const { return qmtest::ReadFile(install_.Path("client.out")); }

    static qmtest::SessionBus* bus_;
    static qmtest::TempDir* home_;
    static int launcherPid_, trayPid_;
    static std::string a11yAddress_;
    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    qmtest::ChildProcess client_;
    qmtest::XWindowInfo main_;
    AtspiAccessible* app_ = nullptr;
};

qmtest::SessionBus* ScreenReader::bus_ = nullptr;
qmtest::TempDir* ScreenReader::home_ = nullptr;
int ScreenReader::launcherPid_ = -1;
int ScreenReader::trayPid_ = -1;
std::string ScreenReader::a11yAddress_;

TEST_F(ScreenReader, FindsTheBandsButtonsByNameAndTheirMinimiseActionMinimises) {
    AtspiAccessible* minimise = WaitFor(ATSPI_ROLE_PUSH_BUTTON, "Minimise");
    ASSERT_NE(minimise, nullptr) << "no push button \"Minimise\"";
    AtspiAccessible* close = WaitFor(ATSPI_ROLE_PUSH_BUTTON, "Close to tray");
    ASSERT_NE(close, nullptr) << "no push button \"Close to tray\"";
    EXPECT_TRUE(HasState(minimise, ATSPI_STATE_FOCUSABLE));
    EXPECT_TRUE(HasState(close, ATSPI_STATE_SHOWING));
    // Both live in the main window's frame, with the page.
    AtspiAccessible* frame = atspi_accessible_get_parent(minimise, nullptr);
    while (frame && atspi_accessible_get_role(frame, nullptr) != ATSPI_ROLE_FRAME) {
        AtspiAccessible* up = atspi_accessible_get_parent(frame, nullptr);
        g_object_unref(frame);
        frame = up;
    }
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Name(frame), "Rawen");
    g_object_unref(frame);

    AtspiAction* action = atspi_accessible_get_action_iface(minimise);
    ASSERT_NE(action, nullptr);
    ASSERT_EQ(atspi_action_get_n_actions(action, nullptr), 1);
    gchar* actionName = atspi_action_get_action_name(action, 0, nullptr);
    EXPECT_STREQ(actionName, "click");
    g_free(actionName);
    ASSERT_TRUE(atspi_action_do_action(action, 0, nullptr));
    // Minimised (on a desktop without a window manager: off the screen), not ended.
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main_.id); }, 20s));
    EXPECT_TRUE(client_.Running()) << Output();
    g_object_unref(action);
    g_object_unref(minimise);
    g_object_unref(close);
}

TEST_F(ScreenReader, TabReachesTheMinimiseButtonAndSpacePressesIt) {
    AtspiAccessible* minimise = WaitFor(ATSPI_ROLE_PUSH_BUTTON, "Minimise");
    ASSERT_NE(minimise, nullptr);
    // From the page, Tab by Tab (the page has nothing to focus).
    bool focused = false;
    for (int i = 0; i < 8 && !focused; ++i) {
        ASSERT_TRUE(qmtest::XDo({"windowfocus", "--sync", main_.id, "key", "Tab"}));
        focused = qmtest::WaitUntil([&] { return HasState(minimise, ATSPI_STATE_FOCUSED); }, 2s);
    }
    ASSERT_TRUE(focused) << "Tab never reached \"Minimise\"";
    ASSERT_TRUE(qmtest::XDo({"key", "space"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main_.id); }, 20s));
    g_object_unref(minimise);
}

TEST_F(ScreenReader, TheTrayMenusItemsAreMenuItemsAndTheKeyboardChoosesOne) {
    // Hidden to the tray by the close box's action, then the tray menu.
    AtspiAccessible* close = WaitFor(ATSPI_ROLE_PUSH_BUTTON, "Close to tray");
    ASSERT_NE(close, nullptr);
    std::optional<qmtest::XWindowInfo> icon;
    ASSERT_TRUE(qmtest::WaitUntil([&] { return (icon = qmtest::FindTrayIcon()).has_value(); }, 30s));
    AtspiAction* action = atspi_accessible_get_action_iface(close);
    ASSERT_TRUE(atspi_action_do_action(action, 0, nullptr));
    g_object_unref(action);
    g_object_unref(close);
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !qmtest::IsViewable(main_.id); }, 20s));
    ASSERT_TRUE(qmtest::XDo({"mousemove", std::to_string(icon->x + icon->width / 2),
                             std::to_string(icon->y + icon->height / 2), "click", "3"}));
    AtspiAccessible* open = WaitFor(ATSPI_ROLE_MENU_ITEM, "Open");
    ASSERT_NE(open, nullptr) << "no menu item \"Open\"";
    AtspiAccessible* quit = WaitFor(ATSPI_ROLE_MENU_ITEM, "Close");
    ASSERT_NE(quit, nullptr) << "no menu item \"Close\"";
    // The menu holds the keyboard while it shows: Tab to "Open", Enter chooses it.
    bool focused = false;
    for (int i = 0; i < 4 && !focused; ++i) {
        ASSERT_TRUE(qmtest::XDo({"key", "Tab"}));
        focused = qmtest::WaitUntil([&] { return HasState(open, ATSPI_STATE_FOCUSED); }, 2s);
    }
    ASSERT_TRUE(focused) << "Tab never reached \"Open\"";
    ASSERT_TRUE(qmtest::XDo({"key", "Return"}));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return qmtest::IsViewable(main_.id); }, 20s));
    g_object_unref(open);
    g_object_unref(quit);
}

}  // namespace
