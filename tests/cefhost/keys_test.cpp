// One key map for every user of it: the same key gives the same virtual key in
// the window library's WM_KEYDOWN, in the browser client's OnKeyEvent for a
// windowed browser, and for a windowless one, whether its key arrives with the
// key's scan code or with the virtual key alone. Then real key presses from
// the display (xdotool) reach a window's WM_KEYDOWN and OnKeyEvent alike with
// the punctuation keys.
#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kxcef/testing.h"
#include "tests/cefhost/support/page_fixture.h"
#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/support/x_probe.h"
#include "tests/uilib/test_util.h"
#include "uilib/keys.h"
#include "uilib/native.h"
#include "uilib/win32.h"

using namespace std::chrono_literals;

namespace qmtest {
namespace {

const char kKeysPage[] =
    "<!doctype html><html><body style='margin:0;height:100%'>"
    "<script>function report(o){KXWebApp.PostCPPTask('report', o);}"
    "document.addEventListener('keydown',function(e){report('keydown '+e.key);});</script>"
    "</body></html>";

// The key events the browsers' client saw, in order: (browser id, virtual key).
std::vector<std::pair<int, int>> g_keyEvents;

void RecordKeyEvent(int browserId, UINT message, int vk) {
    if (message == WM_KEYDOWN) g_keyEvents.emplace_back(browserId, vk);
}

bool IsModifierVk(int vk) { return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU; }

// The non-modifier keys browser `id` saw since `from`.
std::vector<int> KeysOf(int id, size_t from = 0) {
    std::vector<int> out;
    for (size_t i = from; i < g_keyEvents.size(); ++i)
        if (g_keyEvents[i].first == id && !IsModifierVk(g_keyEvents[i].second)) out.push_back(g_keyEvents[i].second);
    return out;
}

struct KeyRow {
    const char* name;
    guint keyval;  // what the key types with `state`
    guint state;
    int vk;
};

// Punctuation first: the keys the browser once did not see.
const KeyRow kRows[] = {
    {";", GDK_KEY_semicolon, 0, VK_OEM_1},
    {"Shift+; (:)", GDK_KEY_colon, GDK_SHIFT_MASK, VK_OEM_1},
    {"/", GDK_KEY_slash, 0, VK_OEM_2},
    {"Shift+/ (?)", GDK_KEY_question, GDK_SHIFT_MASK, VK_OEM_2},
    {"Shift+1 (!)", GDK_KEY_exclam, GDK_SHIFT_MASK, '1'},
    {"=", GDK_KEY_equal, 0, VK_OEM_PLUS},
    {",", GDK_KEY_comma, 0, VK_OEM_COMMA},
    {"-", GDK_KEY_minus, 0, VK_OEM_MINUS},
    {".", GDK_KEY_period, 0, VK_OEM_PERIOD},
    {"`", GDK_KEY_grave, 0, VK_OEM_3},
    {"[", GDK_KEY_bracketleft, 0, VK_OEM_4},
    {"\\", GDK_KEY_backslash, 0, VK_OEM_5},
    {"]", GDK_KEY_bracketright, 0, VK_OEM_6},
    {"'", GDK_KEY_apostrophe, 0, VK_OEM_7},
    {"a", GDK_KEY_a, 0, 'A'},
    {"Shift+a (A)", GDK_KEY_A, GDK_SHIFT_MASK, 'A'},
    {"7", GDK_KEY_7, 0, '7'},
    {"F2", GDK_KEY_F2, 0, VK_F1 + 1},
    {"Return", GDK_KEY_Return, 0, VK_RETURN},
    {"keypad Enter", GDK_KEY_KP_Enter, 0, VK_RETURN},
    {"Escape", GDK_KEY_Escape, 0, VK_ESCAPE},
    {"space", GDK_KEY_space, 0, VK_SPACE},
    {"Left", GDK_KEY_Left, 0, VK_LEFT},
    {"Home", GDK_KEY_Home, 0, VK_HOME},
    {"Delete", GDK_KEY_Delete, 0, VK_DELETE},
    {"keypad *", GDK_KEY_KP_Multiply, 0, VK_MULTIPLY},
    {"Menu", GDK_KEY_Menu, 0, VK_APPS},
};

class Keys : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        Page("/keys.html", kKeysPage);
        g_keyEvents.clear();
        previous_ = KXCEF2_SetKeyEventObserverForTesting(&RecordKeyEvent);
    }
    void TearDown() override {
        windowed_ = nullptr;
        windowless_ = nullptr;
        PageTest::TearDown();
        KXCEF2_SetKeyEventObserverForTesting(previous_);
    }

    // A shown host window of the UI library that records its messages.
    HWND Host(const wchar_t* title, int x, int y) {
        hosts_.push_back(std::make_unique<qmtest::RecordingWindow>(title, WS_POPUP, 400, 300));
        HWND hwnd = hosts_.back()->hwnd();
        UiLib::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_TRUE(qmtest::ShowAndWait(hwnd));
        return hwnd;
    }
    CefRefPtr<CCEF3Handler> OpenIn(HWND host, bool windowless) {
        CefRefPtr<CCEF3Handler> h =
            CCEF3Manager::CreateBrowser(host, RECT{0, 0, 400, 300}, Url("/keys.html"), windowless, false, 0);
        if (!h) return nullptr;
        recorders_.push_back(std::make_unique<BrowserRecorder>());
        recorders_.back()->Attach(h.get());
        handlers_.push_back(h);
        BrowserRecorder* rec = recorders_.back().get();
        EXPECT_TRUE(PumpMainLoopUntil([&] { return rec->SawLoadEnd(); }));
        return h;
    }
    GtkWidget* ViewOf(CCEF3Handler* h) {
        CefRefPtr<CefBrowser> b = h->GetBrowser();
        return b ? UiLib::Native::ToWidget(b->GetHost()->GetWindowHandle()) : nullptr;
    }
    // The first key the browser saw after `from`, or 0 when none came.
    int NextKeyOf(CCEF3Handler* h, size_t from) {
        int id = h->GetBrowserId();
        PumpMainLoopUntil([&] { return !KeysOf(id, from).empty(); });
        std::vector<int> keys = KeysOf(id, from);
        return keys.empty() ? 0 : keys.front();
    }
    // Waits for the page to report `n` key presses other than Shift (and the
    // Escape that found the focus) and returns them.
    std::vector<std::string> PageKeys(CCEF3Handler* h, size_t n) {
        std::vector<std::string> keys;
        PumpMainLoopUntil([&] {
            keys.clear();
            for (const std::string& report : JsHandler().Reports(h->GetBrowserId()))
                if (report != "keydown Shift" && report != "keydown Escape") keys.push_back(report);
            return keys.size() >= n;
        });
        return keys;
    }
    // Gives the host window the display's keyboard focus (as a window manager
    // would) and clicks into the browser's place until a real key press
    // reaches it (the click gives the page the focus).
    bool FocusByClick(HWND host, const char* title, CCEF3Handler* h) {
        RECT r{};
        std::optional<qmtest::XWindowInfo> x11 = qmtest::FindXWindow("UiLibTestRecorder", title);
        if (!x11 || !UiLib::GetWindowRect(host, &r)) return false;
        const std::string& xid = x11->id;
        std::string x = std::to_string(r.left + 200), y = std::to_string(r.top + 150);
        for (int attempt = 0; attempt < 5; ++attempt) {
            size_t from = g_keyEvents.size();
            if (!qmtest::XDo({"windowfocus", "--sync", xid}) || !qmtest::XDo({"mousemove", x, y, "click", "1"}) ||
                !qmtest::XDo({"key", "Escape"}))
                return false;
            if (PumpMainLoopUntil([&] { return !KeysOf(h->GetBrowserId(), from).empty(); }, std::chrono::seconds(5)))
                return true;
        }
        return false;
    }
    // A plain window of the window library, a windowed and a windowless
    // browser, each in a host window of its own, side by side.
    void OpenAll() {
        plain_ = Host(L"plain", 410, 0);
        windowedHost_ = Host(L"windowed", 0, 0);
        osrHost_ = Host(L"windowless", 0, 310);
        windowed_ = OpenIn(windowedHost_, false);
        windowless_ = OpenIn(osrHost_, true);
    }
    HWND plain_ = nullptr, windowedHost_ = nullptr, osrHost_ = nullptr;
    CefRefPtr<CCEF3Handler> windowed_, windowless_;
    std::vector<std::unique_ptr<qmtest::RecordingWindow>> hosts_;
    std::vector<std::unique_ptr<BrowserRecorder>> recorders_;
    KXCEF2KeyEventObserver previous_ = nullptr;
};

std::string VkText(int vk) {
    char text[8];
    snprintf(text, sizeof text, "0x%02X", vk);
    return text;
}

TEST_F(Keys, EveryUserOfTheKeyMapGivesAKeyTheSameVirtualKey) {
    OpenAll();
    ASSERT_TRUE(windowed_ && windowless_);
    HWND plain = plain_, osrHost = osrHost_;
    CefRefPtr<CCEF3Handler> windowed = windowed_, windowless = windowless_;
    GtkWidget* view = ViewOf(windowed.get());
    ASSERT_TRUE(view);
    gtk_widget_grab_focus(view);
    UiLib::SendMessageW(osrHost, WM_SETFOCUS, 0, 0);
    GdkWindow* plainWindow = qmtest::GdkWindowOf(plain);
    GdkWindow* viewWindow = gtk_widget_get_window(view);
    GdkWindow* osrWindow = qmtest::GdkWindowOf(osrHost);

    auto& recorded = qmtest::Recorded();
    for (const KeyRow& row : kRows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(UiLib::Keys::KeycodeOfKeyval(row.keyval), 0) << "not on the test display's keyboard";
        // The window library: WM_KEYDOWN of a plain window.
        recorded.clear();
        qmtest::PutKey(plainWindow, row.keyval, true, row.state);
        qmtest::PutKey(plainWindow, row.keyval, false, row.state);
        int windowVk = 0;
        qmtest::PumpMainLoopUntil([&] {
            for (const qmtest::Message& m : recorded)
                if (m.hwnd == plain && m.message == WM_KEYDOWN) windowVk = static_cast<int>(m.wParam);
            return windowVk != 0;
        });
        // A windowed browser: the key event of its view.
        size_t from = g_keyEvents.size();
        qmtest::PutKey(viewWindow, row.keyval, true, row.state);
        qmtest::PutKey(viewWindow, row.keyval, false, row.state);
        int windowedVk = NextKeyOf(windowed.get(), from);
        // A windowless browser: WM_KEYDOWN of its host, with the scan code...
        from = g_keyEvents.size();
        qmtest::PutKey(osrWindow, row.keyval, true, row.state);
        qmtest::PutKey(osrWindow, row.keyval, false, row.state);
        int osrVk = NextKeyOf(windowless.get(), from);
        // ... and with the virtual key alone, Shift held where the row needs it.
        bool shift = (row.state & GDK_SHIFT_MASK) != 0;
        if (shift) qmtest::PutKey(plainWindow, GDK_KEY_Shift_L, true);
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return (UiLib::GetKeyState(VK_SHIFT) < 0) == shift; }));
        from = g_keyEvents.size();
        windowless->DealInputMessage(osrHost, WM_KEYDOWN, static_cast<WPARAM>(row.vk), 0);
        windowless->DealInputMessage(osrHost, WM_KEYUP, static_cast<WPARAM>(row.vk), 0);
        int osrBareVk = NextKeyOf(windowless.get(), from);
        if (shift) qmtest::PutKey(plainWindow, GDK_KEY_Shift_L, false, GDK_SHIFT_MASK);
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([] { return UiLib::GetKeyState(VK_SHIFT) >= 0; }));

        EXPECT_EQ(VkText(windowVk), VkText(row.vk)) << "window WM_KEYDOWN";
        EXPECT_EQ(VkText(windowedVk), VkText(row.vk)) << "windowed browser OnKeyEvent";
        EXPECT_EQ(VkText(osrVk), VkText(row.vk)) << "windowless browser OnKeyEvent";
        EXPECT_EQ(VkText(osrBareVk), VkText(row.vk)) << "windowless browser OnKeyEvent, virtual key only";
    }
}

// Real key presses from the display, as a user types them: the window's
// WM_KEYDOWN and both kinds of browser see the same keys.
TEST_F(Keys, RealPunctuationKeysReachWmKeyDownOnKeyEventAndThePage) {
    OpenAll();
    ASSERT_TRUE(windowed_ && windowless_);
    HWND plain = plain_, windowedHost = windowedHost_, osrHost = osrHost_;
    CefRefPtr<CCEF3Handler> windowed = windowed_, windowless = windowless_;
    const std::vector<int> expected{VK_OEM_1, VK_OEM_2, '1'};

    // The window library's WM_KEYDOWN of a plain window with the focus.
    std::optional<qmtest::XWindowInfo> plainX = qmtest::FindXWindow("UiLibTestRecorder", "plain");
    ASSERT_TRUE(plainX);
    ASSERT_TRUE(qmtest::XDo({"windowfocus", "--sync", plainX->id}));
    auto& recorded = qmtest::Recorded();
    auto plainKeys = [&] {
        std::vector<int> keys;
        for (const qmtest::Message& m : recorded)
            if (m.hwnd == plain && m.message == WM_KEYDOWN && !IsModifierVk(static_cast<int>(m.wParam)))
                keys.push_back(static_cast<int>(m.wParam));
        return keys;
    };
    bool focused = false;
    for (int attempt = 0; attempt < 5 && !focused; ++attempt) {  // until the focus has arrived
        recorded.clear();
        ASSERT_TRUE(qmtest::XDo({"key", "Escape"}));
        focused = qmtest::PumpMainLoopUntil([&] { return !plainKeys().empty(); }, 5s);
    }
    ASSERT_TRUE(focused);
    recorded.clear();
    ASSERT_TRUE(qmtest::XDo({"key", "--delay", "40", "semicolon", "slash", "shift+1"}));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return plainKeys().size() >= 3; }));
    EXPECT_EQ(plainKeys(), expected) << "window WM_KEYDOWN";

    const std::vector<std::string> pageKeys{"keydown ;", "keydown /", "keydown !"};
    struct Target {
        const char* title;
        HWND host;
        CCEF3Handler* handler;
    };
    const Target targets[] = {{"windowed", windowedHost, windowed.get()}, {"windowless", osrHost, windowless.get()}};
    for (const Target& t : targets) {
        SCOPED_TRACE(t.title);
        ASSERT_TRUE(FocusByClick(t.host, t.title, t.handler));
        JsHandler().Clear();
        size_t from = g_keyEvents.size();
        ASSERT_TRUE(qmtest::XDo({"key", "--delay", "40", "semicolon", "slash", "shift+1"}));
        ASSERT_TRUE(PumpMainLoopUntil([&] { return KeysOf(t.handler->GetBrowserId(), from).size() >= 3; }));
        EXPECT_EQ(KeysOf(t.handler->GetBrowserId(), from), expected);
        EXPECT_EQ(PageKeys(t.handler, 3), pageKeys) << "the keys are the page's, not consumed";
    }
}

}  // namespace
}  // namespace qmtest
