// The tray icon in a real tray host (trayer on the test's X server): embedding,
// tooltip and icon changes, and the callback message on a real click.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/display.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"

namespace {

using namespace UiLib;
using namespace std::chrono_literals;
using qmtest::RecordingWindow;

constexpr UINT kCallback = 2024;
constexpr UINT kIconId = 108;

class TrayHost {
public:
    TrayHost() : pid_(qmtest::StartTrayHost()) {}
    ~TrayHost() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    bool started() const { return pid_ > 0; }

private:
    int pid_;
};

NOTIFYICONDATAW IconData(HWND hwnd, HICON icon, const wchar_t* tip) {
    NOTIFYICONDATAW data;
    data.hWnd = hwnd;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kCallback;
    data.hIcon = icon;
    wcsncpy(data.szTip, tip, 127);
    return data;
}

bool Click(const RECT& rect, int button) {
    std::string x = std::to_string((rect.left + rect.right) / 2);
    std::string y = std::to_string((rect.top + rect.bottom) / 2);
    bool ok = qmtest::XDo({"mousemove", x, y, "click", std::to_string(button)});
    if (!ok) ADD_FAILURE() << "xdotool mousemove/click failed";
    return ok;
}

TEST(Tray, WithoutATrayHostTheIconIsNotEmbedded) {
    RecordingWindow window(L"no tray");
    NOTIFYICONDATAW data = IconData(window.hwnd(), LoadIconW(nullptr, kIconId), L"tip");
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));  // the same icon twice
    qmtest::PumpMainLoopFor(200ms);
    EXPECT_FALSE(IsNotifyIconEmbedded(window.hwnd(), kIconId));
    RECT rect;
    EXPECT_FALSE(Shell_NotifyIconGetRect(window.hwnd(), kIconId, &rect));
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data));
}

TEST(Tray, IconEmbedsAndAClickPostsTheCallback) {
    TrayHost host;
    ASSERT_TRUE(host.started());
    RecordingWindow window(L"tray owner");
    NOTIFYICONDATAW data = IconData(window.hwnd(), LoadIconW(nullptr, kIconId), L"Quenor");
    // The tray host needs a moment to claim the tray selection; the icon embeds once it has.
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    bool embedded = qmtest::PumpMainLoopUntil([&] { return IsNotifyIconEmbedded(window.hwnd(), kIconId); }, 15s);
    ASSERT_TRUE(embedded);
    // The tray host places a new icon after embedding it: click only once its
    // place has stayed the same for a few samples.
    RECT rect{}, last{};
    int steady = 0;
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        qmtest::PumpMainLoopFor(100ms);
        if (!Shell_NotifyIconGetRect(window.hwnd(), kIconId, &rect) || rect.right <= rect.left) return false;
        steady = std::memcmp(&rect, &last, sizeof(rect)) == 0 ? steady + 1 : 0;
        last = rect;
        return steady >= 3;
    }));

    ASSERT_TRUE(Click(rect, 1));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const auto& m : window.Of(kCallback)) {
            if (m.lParam == WM_LBUTTONUP) return true;
        }
        return false;
    }));
    for (const auto& m : window.Of(kCallback)) EXPECT_EQ(m.wParam, kIconId);

    // Flashing: no icon keeps the place (and the clicks), the icon comes back.
    NOTIFYICONDATAW blank = data;
    blank.uFlags = NIF_ICON;
    blank.hIcon = nullptr;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &blank));
    qmtest::PumpMainLoopFor(100ms);
    EXPECT_TRUE(IsNotifyIconEmbedded(window.hwnd(), kIconId));
    ASSERT_TRUE(Click(rect, 3));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] {
        for (const auto& m : window.Of(kCallback)) {
            if (m.lParam == WM_RBUTTONUP) return true;
        }
        return false;
    }));
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));

    // Destroying the window takes its icon along.
    HWND hwnd = window.hwnd();
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsNotifyIconEmbedded(hwnd, kIconId));
}

TEST(Icons, LoadIconReadsTheSkinFolderOrMakesOne) {
    // A generated icon for a missing file, shared per module and id.
    HICON generated = LoadIconW(nullptr, 4242);
    ASSERT_NE(generated, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, 4242), generated);
    EXPECT_NE(LoadIconW(nullptr, 4243), generated);
    RecordingWindow window(L"icon");
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(generated)), 0);
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_SETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(generated));
    EXPECT_EQ(gtk_window_get_icon(GTK_WINDOW(Native::GetToplevel(window.hwnd()))), nullptr);

    // A file in "<module dir>/Skin/icons/<id>.png" is the icon.
    std::string folder = qmtest::BinDir() + "/../tests/Skin/icons";
    g_mkdir_with_parents(folder.c_str(), 0755);
    std::string file = folder + "/4300.png";
    GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
    gdk_pixbuf_fill(picture, 0xFF0000FF);
    ASSERT_TRUE(gdk_pixbuf_save(picture, file.c_str(), "png", nullptr, nullptr));
    g_object_unref(picture);
    HICON fromFile = LoadIconW(nullptr, 4300);
    std::remove(file.c_str());
    SendMessageW(window.hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(fromFile));
    GdkPixbuf* shown = gtk_window_get_icon(GTK_WINDOW(Native::GetToplevel(window.hwnd())));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(shown), 16);  // the generated ones are 32 wide
    EXPECT_NE(LoadCursorW(nullptr, IDC_HAND), nullptr);
    SetClassCursor(window.hwnd(), LoadCursorW(nullptr, IDC_HAND));
}

bool MimeDatabaseMapped() { return qmtest::ReadFile("/proc/self/maps").find("/mime/mime.cache") != std::string::npos; }

// Writes a 20x20 picture in the given format under the name "<id>.png".
void WriteIconFile(int id, const char* format) {
    std::string folder = qmtest::BinDir() + "/../tests/Skin/icons";
    g_mkdir_with_parents(folder.c_str(), 0755);
    GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 20, 20);
    gdk_pixbuf_fill(picture, 0x00FF00FF);
    ASSERT_TRUE(gdk_pixbuf_save(picture, (folder + "/" + std::to_string(id) + ".png").c_str(), format, nullptr, nullptr));
    g_object_unref(picture);
}

int IconWidth(HICON icon) {
    RecordingWindow window(L"icon width");
    SendMessageW(window.hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    GdkPixbuf* shown = gtk_window_get_icon(GTK_WINDOW(Native::GetToplevel(window.hwnd())));
    return shown ? gdk_pixbuf_get_width(shown) : -1;
}

TEST(Icons, PngIconsLeaveTheMimeDatabaseAloneAndOtherFormatsStillLoad) {
    // A PNG is decoded as one, without sniffing its type: that would load the
    // shared MIME database into the process.
    if (MimeDatabaseMapped()) GTEST_SKIP() << "something in this process loaded the MIME database already";
    WriteIconFile(4310, "png");
    EXPECT_EQ(IconWidth(LoadIconW(nullptr, 4310)), 20);
    EXPECT_FALSE(MimeDatabaseMapped());

    // A picture in another format under a ".png" name still loads.
    WriteIconFile(4311, "bmp");
    EXPECT_EQ(IconWidth(LoadIconW(nullptr, 4311)), 20);
    for (int id : {4310, 4311}) std::remove((qmtest::BinDir() + "/../tests/Skin/icons/" + std::to_string(id) + ".png").c_str());
}

}  // namespace
