// The tray icon on a private session bus: a StatusNotifierItem while a watcher
// with a host runs there, the XEmbed icon in a real tray host (trayer) while
// none does, and the host's clicks, menu and attention state.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/display.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/support/status_notifier.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"

namespace {

using namespace UiLib;
using namespace std::chrono_literals;
using qmtest::RecordingWindow;

constexpr UINT kCallback = 2024;
constexpr UINT kIconId = 108;

const char kMenuSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="140,72" bkcolor="#FFFFFFFF">
  <VerticalLayout>
    <Button name="open" text="Open" height="32"/>
    <Label name="separator" text="-" height="4"/>
    <Button name="close" text=" Close_Now " height="32"/>
  </VerticalLayout>
</Window>)";

class MenuWindow : public IWindowBase {
public:
    explicit MenuWindow(std::string folder) : folder_(folder.begin(), folder.end()) {}
    std::vector<std::wstring> clicks;

protected:
    const wchar_t* GetWindowClassName() const override { return L"PX_MENU"; }
    CDuiString GetSkinFolder() override { return CDuiString(folder_); }
    CDuiString GetSkinFile() override { return CDuiString(L"MenuWnd.xml"); }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == L"click") clicks.push_back(msg.pSender->GetName().str());
    }

private:
    std::wstring folder_;
};

class StatusNotifierTray : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus_ = new qmtest::SessionBus();
        ASSERT_TRUE(bus_->started());
        // Read by the tray when it first connects.
        setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
        host_ = new qmtest::StatusNotifierHost(bus_->address());
        trayPid_ = qmtest::StartTrayHost();
    }
    static void TearDownTestSuite() {
        delete host_;
        delete bus_;
        if (trayPid_ > 0) {
            kill(trayPid_, SIGTERM);
            int status;
            waitpid(trayPid_, &status, 0);
        }
    }
    void TearDown() override {
        host_->StopWatcher();
        // The next test starts once the tray has seen the watcher go: a probe
        // icon lands in the XEmbed tray only then (an item offered meanwhile is
        // refused after the watcher's name is gone, and that news comes first).
        RecordingWindow probe(L"probe");
        NOTIFYICONDATAW data = IconData(probe.hwnd());
        ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
        EXPECT_TRUE(HostIs(probe.hwnd(), NotifyIconHost::XEmbed));
        Shell_NotifyIconW(NIM_DELETE, &data);
    }

    NOTIFYICONDATAW IconData(HWND hwnd) {
        NOTIFYICONDATAW data;
        data.hWnd = hwnd;
        data.uID = kIconId;
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = kCallback;
        data.hIcon = LoadIconW(nullptr, kIconId);
        wcsncpy(data.szTip, L"Quenor \u4e2d\u6587", 127);
        return data;
    }
    bool HostIs(HWND hwnd, NotifyIconHost host, std::chrono::milliseconds timeout = 15s) {
        return qmtest::PumpMainLoopUntil([&] { return GetNotifyIconHost(hwnd, kIconId) == host; }, timeout);
    }
    // Runs a call of the host while our main loop answers it.
    template <typename F>
    auto Pumped(F f) -> decltype(f()) {
        decltype(f()) result{};
        std::atomic<bool> done{false};
        std::thread asker([&] {
            result = f();
            done = true;
        });
        qmtest::PumpMainLoopUntil([&] { return done.load(); }, 15s);
        asker.join();
        return result;
    }
    std::string PumpedString(const std::string& item, const char* name) {
        return Pumped([&] { return host_->StringProperty(item, name); });
    }
    bool WaitStatus(const std::string& item, const std::string& status) {
        return qmtest::PumpMainLoopUntil([&] { return PumpedString(item, "Status") == status; }, 10s);
    }

    static qmtest::SessionBus* bus_;
    static qmtest::StatusNotifierHost* host_;
    static int trayPid_;
};

qmtest::SessionBus* StatusNotifierTray::bus_ = nullptr;
qmtest::StatusNotifierHost* StatusNotifierTray::host_ = nullptr;
int StatusNotifierTray::trayPid_ = -1;

TEST_F(StatusNotifierTray, TheItemRegistersAndItsHostClicksReachTheWindow) {
    ASSERT_TRUE(host_->StartWatcher());
    RecordingWindow window(L"sni owner");
    NOTIFYICONDATAW data = IconData(window.hwnd());
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::StatusNotifier));
    std::optional<std::string> item = host_->WaitForItem(1s);
    ASSERT_TRUE(item.has_value());
    // Shown by the watcher's host, not also as an XEmbed icon in the tray.
    qmtest::PumpMainLoopFor(300ms);
    EXPECT_FALSE(IsNotifyIconEmbedded(window.hwnd(), kIconId));

    EXPECT_EQ(PumpedString(*item, "Title"), "Quenor \xe4\xb8\xad\xe6\x96\x87");
    EXPECT_EQ(PumpedString(*item, "Status"), "Active");
    EXPECT_EQ(PumpedString(*item, "Category"), "ApplicationStatus");
    GVariant* tooltip = Pumped([&] { return host_->Property(*item, "ToolTip"); });
    ASSERT_NE(tooltip, nullptr);
    const char* tipTitle = nullptr;
    g_variant_get_child(tooltip, 2, "&s", &tipTitle);
    EXPECT_STREQ(tipTitle, "Quenor \xe4\xb8\xad\xe6\x96\x87");
    g_variant_unref(tooltip);
    // The picture at 1x and at twice the pixels, ARGB with opaque pixels in it.
    GVariant* pixmaps = Pumped([&] { return host_->Property(*item, "IconPixmap"); });
    ASSERT_NE(pixmaps, nullptr);
    std::set<int> widths;
    for (gsize i = 0; i < g_variant_n_children(pixmaps); ++i) {
        gint32 w, h;
        GVariant* bytes;
        g_variant_get_child(pixmaps, i, "(ii@ay)", &w, &h, &bytes);
        EXPECT_EQ(g_variant_get_size(bytes), static_cast<gsize>(w) * h * 4);
        const guchar* argb = static_cast<const guchar*>(g_variant_get_data(bytes));
        EXPECT_EQ(argb[(static_cast<size_t>(h / 2) * w + w / 2) * 4], 0xFF) << "centre pixel not opaque";
        widths.insert(w);
        g_variant_unref(bytes);
    }
    g_variant_unref(pixmaps);
    EXPECT_EQ(widths, (std::set<int>{32, 64}));

    // The host's primary click and its request for the icon's own menu.
    ASSERT_TRUE(Pumped([&] { return host_->Call(*item, "Activate"); }));
    ASSERT_TRUE(Pumped([&] { return host_->Call(*item, "ContextMenu"); }));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.Of(kCallback).size() >= 4; }));
    std::vector<LPARAM> mouse;
    for (const auto& m : window.Of(kCallback)) {
        EXPECT_EQ(m.wParam, kIconId);
        mouse.push_back(m.lParam);
    }
    EXPECT_EQ(mouse, (std::vector<LPARAM>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP}));
    // Deleting the icon takes the item off the host.
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return host_->Items().empty(); }));
}

TEST_F(StatusNotifierTray, TheMenuWindowsButtonsAreTheItemsMenu) {
    ASSERT_TRUE(host_->StartWatcher());
    qmtest::TempDir dir;
    ASSERT_TRUE(qmtest::WriteFile(dir.File("MenuWnd.xml"), kMenuSkin));
    RecordingWindow owner(L"menu owner");
    auto menu = std::make_unique<MenuWindow>(dir.path());
    ASSERT_NE(menu->Create(owner.hwnd(), L"Menu", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW), nullptr);
    NOTIFYICONDATAW data = IconData(owner.hwnd());
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    EXPECT_TRUE(SetNotifyIconMenu(owner.hwnd(), kIconId, menu->GetHWND()));
    ASSERT_TRUE(HostIs(owner.hwnd(), NotifyIconHost::StatusNotifier));
    std::string item = *host_->WaitForItem(1s);

    std::vector<qmtest::MenuEntry> entries = Pumped([&] { return host_->Menu(item); });
    ASSERT_EQ(entries.size(), 2u);  // buttons only, in layout order
    EXPECT_EQ(entries[0].label, "Open");
    EXPECT_EQ(entries[1].label, "Close__Now");  // an underscore is not an access key
    ASSERT_TRUE(Pumped([&] { return host_->ClickMenu(item, entries[1].id); }));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return !menu->clicks.empty(); }));
    EXPECT_EQ(menu->clicks, std::vector<std::wstring>{L"close"});
    Pumped([&] { return host_->ClickMenu(item, 99); });
    qmtest::PumpMainLoopFor(100ms);
    EXPECT_EQ(menu->clicks.size(), 1u);  // an unknown item does nothing
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    DestroyWindow(menu->GetHWND());
}

TEST_F(StatusNotifierTray, FlashingIsTheItemsAttentionStateAndTheWindowsUrgency) {
    ASSERT_TRUE(host_->StartWatcher());
    RecordingWindow window(L"flashing owner", WS_OVERLAPPEDWINDOW);
    NOTIFYICONDATAW data = IconData(window.hwnd());
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::StatusNotifier));
    std::string item = *host_->WaitForItem(1s);

    FLASHWINFO flash;
    flash.hwnd = window.hwnd();
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMER;
    EXPECT_FALSE(FlashWindowEx(&flash));
    EXPECT_TRUE(gtk_window_get_urgency_hint(GTK_WINDOW(Native::GetToplevel(window.hwnd()))));
    ASSERT_TRUE(WaitStatus(item, "NeedsAttention"));
    GVariant* attention = Pumped([&] { return host_->Property(item, "AttentionIconPixmap"); });
    ASSERT_NE(attention, nullptr);
    EXPECT_EQ(g_variant_n_children(attention), 2u);
    g_variant_unref(attention);
    // The blinking icon's blank phase keeps the item's picture.
    NOTIFYICONDATAW blank = data;
    blank.uFlags = NIF_ICON;
    blank.hIcon = nullptr;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &blank));
    GVariant* pixmaps = Pumped([&] { return host_->Property(item, "IconPixmap"); });
    ASSERT_NE(pixmaps, nullptr);
    EXPECT_EQ(g_variant_n_children(pixmaps), 2u);
    g_variant_unref(pixmaps);

    flash.dwFlags = FLASHW_STOP;
    EXPECT_TRUE(FlashWindowEx(&flash));
    EXPECT_FALSE(gtk_window_get_urgency_hint(GTK_WINDOW(Native::GetToplevel(window.hwnd()))));
    ASSERT_TRUE(WaitStatus(item, "Active"));
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
}

TEST_F(StatusNotifierTray, TheIconFollowsTheWatcherBetweenDBusAndTheXEmbedTray) {
    RecordingWindow window(L"moving owner");
    NOTIFYICONDATAW data = IconData(window.hwnd());
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::XEmbed));
    // A watcher without a host shows nothing: the icon stays in the XEmbed tray.
    int asked = host_->HostQueries();
    ASSERT_TRUE(host_->StartWatcher(false));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return host_->HostQueries() > asked; }));
    qmtest::PumpMainLoopFor(300ms);
    EXPECT_EQ(GetNotifyIconHost(window.hwnd(), kIconId), NotifyIconHost::XEmbed);
    EXPECT_TRUE(host_->Items().empty());
    host_->StopWatcher();

    // A watcher with a host appears: the icon moves to it and leaves the tray.
    ASSERT_TRUE(host_->StartWatcher());
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::StatusNotifier));
    ASSERT_TRUE(host_->WaitForItem(1s).has_value());
    EXPECT_FALSE(IsNotifyIconEmbedded(window.hwnd(), kIconId));

    // It goes away: back into the tray, clicks and all.
    host_->StopWatcher();
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::XEmbed));
    // And comes back: registered anew.
    ASSERT_TRUE(host_->StartWatcher());
    ASSERT_TRUE(HostIs(window.hwnd(), NotifyIconHost::StatusNotifier));
    EXPECT_TRUE(host_->WaitForItem(1s).has_value());
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_EQ(GetNotifyIconHost(window.hwnd(), kIconId), NotifyIconHost::Nobody);
}

}  // namespace
