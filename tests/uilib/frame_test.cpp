// The frame of a skinned window, with real X input on a bare X server: where
// its edges and its caption are, a double click on the caption maximising and
// restoring it, a press on an edge going to the frame even over a native
// child, the skin's buttons as focusable accessible push buttons that their
// action and the keyboard press, and a popup menu that a press elsewhere
// takes the focus from.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"
// Last: X11 names macros that other headers use as names.
#include <gdk/gdkx.h>

using namespace std::chrono_literals;

namespace {

using namespace UiLib;

const char* kSkin = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300" caption="0,0,0,30" sizebox="4,4,4,4" mininfo="300,200" bkcolor="#FF202020">
  <VerticalLayout>
    <HorizontalLayout height="30">
      <Label text="Quenor"/>
      <Button name="min" text="-" tooltip="Minimise" width="40"/>
      <Button name="close" text="Close" width="40"/>
    </HorizontalLayout>
    <Label name="body"/>
  </VerticalLayout>
</Window>)";

class FramedWindow : public IWindowBase {
public:
    explicit FramedWindow(std::wstring path) : path_(std::move(path)) {}
    std::vector<std::wstring> clicks;
    std::vector<std::pair<UINT, WPARAM>> frameMessages;

protected:
    const wchar_t* GetWindowClassName() const override { return L"UiLibTestFramed"; }
    CDuiString GetSkinFolder() override { return CDuiString(path_.substr(0, path_.rfind(L'/'))); }
    CDuiString GetSkinFile() override { return CDuiString(path_.substr(path_.rfind(L'/') + 1)); }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == L"click") clicks.push_back(msg.pSender->GetName().str());
    }
    LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        if (message == WM_NCLBUTTONDOWN || message == WM_NCLBUTTONDBLCLK) frameMessages.emplace_back(message, wParam);
        return IWindowBase::HandleCustomMessage(message, wParam, lParam, handled);
    }

private:
    std::wstring path_;
};

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = dir_.File("Framed.xml");
        ASSERT_TRUE(qmtest::WriteFile(path, kSkin));
        window_ = std::make_unique<FramedWindow>(std::wstring(path.begin(), path.end()));
        ASSERT_NE(window_->Create(nullptr, L"framed", WS_OVERLAPPEDWINDOW, 0, 100, 100, 0, 0), nullptr);
        ASSERT_TRUE(qmtest::ShowAndWait(window_->GetHWND()));
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return !Proxies().empty(); }));
        ASSERT_TRUE(GetWindowRect(hwnd(), &rect_));
        // The X server has the window where the window says it is.
        RECT shown{};
        ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return OnScreen(&shown) && shown == rect_; }, 20s))
            << Text(shown) << " on screen, " << Text(rect_) << " by the window";
    }
    static std::string Text(const RECT& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
               std::to_string(r.bottom - r.top);
    }
    void TearDown() override { window_.reset(); }
    HWND hwnd() const { return window_->GetHWND(); }
    LRESULT Hit(int x, int y) {
        return SendMessageW(hwnd(), WM_NCHITTEST, 0, MAKELPARAM(rect_.left + x, rect_.top + y));
    }
    // The stand-ins of the skin's buttons in the window's client container.
    std::vector<GtkWidget*> Proxies() {
        std::vector<GtkWidget*> out;
        GtkWidget* container = Native::GetContainer(hwnd());
        if (!container) return out;
        GList* children = gtk_container_get_children(GTK_CONTAINER(container));
        for (GList* c = children; c; c = c->next) {
            GtkWidget* child = GTK_WIDGET(c->data);
            if (atk_object_get_role(gtk_widget_get_accessible(child)) == ATK_ROLE_PUSH_BUTTON) out.push_back(child);
        }
        g_list_free(children);
        return out;
    }
    GtkWidget* Proxy(const std::string& name) {
        for (GtkWidget* w : Proxies())
            if (name == atk_object_get_name(gtk_widget_get_accessible(w))) return w;
        return nullptr;
    }
    // Where the X server has the window now (the window's own rectangle runs ahead of it).
    bool OnScreen(RECT* rect) {
        GdkWindow* gdkWindow = qmtest::GdkWindowOf(hwnd());
        if (!gdkWindow) return false;
        int x = 0, y = 0;
        gdk_window_get_origin(gdkWindow, &x, &y);
        rect->left = x;
        rect->top = y;
        rect->right = x + gdk_window_get_width(gdkWindow);
        rect->bottom = y + gdk_window_get_height(gdkWindow);
        return true;
    }
    bool Click(int x, int y, int times = 1) {
        return qmtest::XDo({"mousemove", std::to_string(rect_.left + x), std::to_string(rect_.top + y), "click",
                            "--repeat", std::to_string(times), "--delay", "60", "1"});
    }

    qmtest::TempDir dir_;
    std::unique_ptr<FramedWindow> window_;
    RECT rect_;
};

TEST_F(Frame, EdgesAndCaptionComeFromTheSkinAndButtonsAndTheMaximisedWindowHaveNoFrame) {
    EXPECT_EQ(Hit(1, 150), HTLEFT);
    EXPECT_EQ(Hit(398, 150), HTRIGHT);
    EXPECT_EQ(Hit(200, 1), HTTOP);
    EXPECT_EQ(Hit(200, 298), HTBOTTOM);
    EXPECT_EQ(Hit(1, 1), HTTOPLEFT);
    EXPECT_EQ(Hit(398, 298), HTBOTTOMRIGHT);
    EXPECT_EQ(Hit(100, 15), HTCAPTION);
    EXPECT_EQ(Hit(395 - 60, 15), HTCLIENT);  // the "min" button in the caption
    EXPECT_EQ(Hit(200, 150), HTCLIENT);
    SendMessageW(hwnd(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ASSERT_TRUE(IsZoomed(hwnd()));
    ASSERT_TRUE(GetWindowRect(hwnd(), &rect_));
    EXPECT_EQ(Hit(1, 150), HTCLIENT);
    EXPECT_EQ(Hit(100, 1), HTCAPTION);
}

TEST_F(Frame, ADoubleClickOnTheCaptionMaximisesTheWindowAndAnotherRestoresIt) {
    RECT work, before = rect_;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(Click(100, 15, 2));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return IsZoomed(hwnd()) != FALSE; }, 20s));
    RECT now;
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return OnScreen(&now) && now == work; }, 20s));
    ASSERT_EQ(window_->frameMessages.size(), 2u);
    EXPECT_EQ(window_->frameMessages[0], std::make_pair(WM_NCLBUTTONDOWN, static_cast<WPARAM>(HTCAPTION)));
    EXPECT_EQ(window_->frameMessages[1], std::make_pair(WM_NCLBUTTONDBLCLK, static_cast<WPARAM>(HTCAPTION)));
    rect_ = now;
    ASSERT_TRUE(Click(100, 15, 2));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !IsZoomed(hwnd()); }, 20s))
        << window_->frameMessages.size() << " frame messages";
    // Back where it was, as large as it was.
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return OnScreen(&now) && now == before; }, 20s))
        << Text(now) << " on screen, " << Text(before) << " before";
    // Two single clicks far apart in time are no double click.
    window_->frameMessages.clear();
    rect_ = now;
    ASSERT_TRUE(Click(100, 15));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->frameMessages.size() == 1; }, 20s));
    qmtest::PumpMainLoopFor(1200ms);  // longer than the double-click time
    ASSERT_TRUE(Click(100, 15));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->frameMessages.size() == 2; }, 20s));
    EXPECT_EQ(window_->frameMessages[1].first, WM_NCLBUTTONDOWN);
    EXPECT_FALSE(IsZoomed(hwnd()));
}

std::vector<UINT>& ChildPresses() {
    static std::vector<UINT> presses;
    return presses;
}

LRESULT RecordPresses(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && wParam == WM_LBUTTONDOWN) ChildPresses().push_back(static_cast<UINT>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The browser view covers the window's edges: a press there still resizes.
TEST_F(Frame, APressOnAnEdgeOverANativeChildIsTheFramesAndTheChildNeverSeesIt) {
    GtkWidget* view = gtk_event_box_new();
    gtk_widget_set_size_request(view, 400, 270);
    gtk_fixed_put(GTK_FIXED(Native::GetContainer(hwnd())), view, 0, 30);
    gtk_widget_show(view);
    ASSERT_NE(Native::RegisterChildWidget(view, hwnd()), nullptr);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return gtk_widget_get_mapped(view); }));
    ChildPresses().clear();
    HHOOK hook = SetWindowsHookExW(WH_MOUSE, &RecordPresses, nullptr, 0);
    ASSERT_TRUE(Click(398, 200));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return !window_->frameMessages.empty(); }, 20s));
    EXPECT_EQ(window_->frameMessages[0], std::make_pair(WM_NCLBUTTONDOWN, static_cast<WPARAM>(HTRIGHT)));
    EXPECT_TRUE(ChildPresses().empty());
    ASSERT_TRUE(Click(200, 200));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !ChildPresses().empty(); }, 20s));
    EXPECT_EQ(window_->frameMessages.size(), 1u);
    UnhookWindowsHookEx(hook);
}

TEST_F(Frame, EachSkinButtonIsAFocusablePushButtonThatItsActionAndTheKeyboardPress) {
    GtkWidget* minimise = Proxy("Minimise");  // named by its tooltip
    GtkWidget* close = Proxy("Close");        // by its text
    ASSERT_NE(minimise, nullptr);
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(gtk_widget_get_can_focus(minimise));
    // Over its button, at the button's place.
    GtkAllocation at;
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] {
        gtk_widget_get_allocation(minimise, &at);
        return at.width == 40;
    }));
    EXPECT_EQ(at.x, 400 - 80);
    EXPECT_EQ(at.y, 0);
    EXPECT_EQ(at.width, 40);
    AtkObject* accessible = gtk_widget_get_accessible(minimise);
    ASSERT_TRUE(ATK_IS_ACTION(accessible));
    EXPECT_STREQ(atk_action_get_name(ATK_ACTION(accessible), 0), "click");
    ASSERT_TRUE(atk_action_do_action(ATK_ACTION(accessible), 0));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->clicks.size() == 1; }, 20s));
    EXPECT_EQ(window_->clicks[0], L"min");
    // Focus on "Close" and a real Return, then a real space.
    gtk_widget_grab_focus(close);
    GdkWindow* gdkWindow = qmtest::GdkWindowOf(hwnd());
    std::string id = std::to_string(gdk_x11_window_get_xid(gdkWindow));
    ASSERT_TRUE(qmtest::XDo({"windowfocus", "--sync", id, "key", "Return"}));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->clicks.size() == 2; }, 20s));
    EXPECT_EQ(window_->clicks[1], L"close");
    ASSERT_TRUE(qmtest::XDo({"key", "space"}));
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window_->clicks.size() == 3; }, 20s));
    // A hidden button has no stand-in.
    window_->GetPaintManager().FindControl(L"min")->SetVisible(false);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return Proxy("Minimise") == nullptr; }));
    EXPECT_NE(Proxy("Close"), nullptr);
}

std::vector<UINT>& PopupMessages() {
    static std::vector<UINT> messages;
    return messages;
}

LRESULT PopupProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    PopupMessages().push_back(message);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST(PopupMenu, IsOverrideRedirectHoldsThePointerAndAPressElsewhereTakesItsFocus) {
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = &PopupProc;
    windowClass.lpszClassName = L"UiLibTestPopup";
    RegisterClassW(&windowClass);
    HWND popup = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"UiLibTestPopup", L"Menu", WS_POPUP, 300, 300,
                                 140, 72, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(popup, nullptr);
    ShowWindow(popup, SW_SHOWNORMAL);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return gdk_window_is_viewable(qmtest::GdkWindowOf(popup)); }));
    GdkWindow* gdkWindow = qmtest::GdkWindowOf(popup);
    EXPECT_EQ(gdk_window_get_window_type(gdkWindow), GDK_WINDOW_TEMP);  // override-redirect
    // Inside: still open.
    ASSERT_TRUE(qmtest::XDo({"mousemove", "350", "330", "click", "1"}));
    ASSERT_TRUE(qmtest::PumpMainLoopUntilIdle());
    EXPECT_EQ(std::count(PopupMessages().begin(), PopupMessages().end(), WM_KILLFOCUS), 0);
    ASSERT_TRUE(qmtest::XDo({"mousemove", "800", "800", "click", "1"}));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] {
        return std::count(PopupMessages().begin(), PopupMessages().end(), WM_KILLFOCUS) == 1;
    }, 20s));
    DestroyWindow(popup);
}

}  // namespace
