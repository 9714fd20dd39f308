// Skinned windows: the XML skin, unknown control classes, attribute routing,
// layout, painting, notifications, control timers and the key hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/gdk_events.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"
#include "tests/uilib/test_util.h"

using namespace std::chrono_literals;

namespace {

using namespace UiLib;

std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}

// Stands for the core module's browser control: a class the library does not know.
class FakeBrowser : public CControlUI {
public:
    const wchar_t* GetClass() const override { return L"BrowserCtrl"; }
    void SetAttribute(const wchar_t* name, const wchar_t* value) override {
        if (std::wstring(name) == L"homepage") {
            homePage = value;
            return;
        }
        forwarded.push_back(name);
        CControlUI::SetAttribute(name, value);
    }
    void SetPos(RECT rc) override {
        Events().push_back(GetManager() ? "setpos" : "setpos-unattached");
        positions.push_back(rc);
        CControlUI::SetPos(rc);
    }
    void DoPaint(HDC hdc, const RECT& rcPaint) override {
        paintedWithContext = hdc != nullptr && GetManager()->GetRenderCore() == hdc;
        ++paints;
        CControlUI::DoPaint(hdc, rcPaint);
    }
    void DoEvent(TEventUI& event) override {
        if (event.Type == UIEVENT_TIMER) timerIds.push_back(static_cast<UINT>(event.wParam));
        CControlUI::DoEvent(event);
    }

    std::wstring homePage;
    std::vector<std::wstring> forwarded;
    std::vector<RECT> positions;
    std::vector<UINT> timerIds;
    int paints = 0;
    bool paintedWithContext = false;
};

const char* kSkin = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300" caption="0,0,0,30" bkcolor="#FF202020">
  <VerticalLayout name="root">
    <HorizontalLayout name="title" height="30" bkcolor="#FF303030">
      <Label name="caption" text="Quenor" textcolor="#FFFFFFFF"/>
      <Button name="min" text="_" width="40"/>
      <Button name="close" text="X" width="40" hotbkcolor="#FFCC0000"/>
    </HorizontalLayout>
    <BrowserCtrl name="browser" homepage="http://127.0.0.1/" bkcolor="#FF00FF00" frobnicate="7"/>
    <Label name="status" height="20" padding="5,0,5,0" text="ready"/>
  </VerticalLayout>
</Window>)";

class SkinnedWindow : public IWindowBase {
public:
    explicit SkinnedWindow(std::wstring skinPath) : skinPath_(std::move(skinPath)) {}

    std::vector<std::wstring> askedClasses;
    std::vector<std::wstring> clicks;
    std::vector<UINT> customMessages;
    FakeBrowser* browser = nullptr;
    bool initSawControls = false;
    bool finalCalled = false;
    bool suppressEscape = false;
    using IWindowBase::skinLoaded;

protected:
    const wchar_t* GetWindowClassName() const override { return L"UiLibTestSkinned"; }
    CDuiString GetSkinFolder() override {
        size_t slash = skinPath_.rfind(L'/');
        return CDuiString(skinPath_.substr(0, slash));
    }
    CDuiString GetSkinFile() override { return CDuiString(skinPath_.substr(skinPath_.rfind(L'/') + 1)); }
    CControlUI* CreateControl(const wchar_t* className) override {
        askedClasses.push_back(className);
        if (std::wstring(className) == L"BrowserCtrl") {
            browser = new FakeBrowser();
            return browser;
        }
        return nullptr;
    }
    void Init() override {
        Events().push_back("init");
        initSawControls = paintManager_.FindControl(L"close") != nullptr && browser && browser->GetManager();
    }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == L"click") clicks.push_back(msg.pSender->GetName().str());
    }
    LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        if (message >= WM_USER) customMessages.push_back(message);
        return IWindowBase::HandleCustomMessage(message, wParam, lParam, handled);
    }
    LRESULT ResponseDefaultKeyEvent(WPARAM wParam) override {
        if (suppressEscape && wParam == VK_ESCAPE) return 0;
        return IWindowBase::ResponseDefaultKeyEvent(wParam);
    }
    void OnFinalMessage(HWND hwnd) override {
        finalCalled = true;
        IWindowBase::OnFinalMessage(hwnd);
    }

private:
    std::wstring skinPath_;
};

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        Events().clear();
        path_ = dir_.File("Main.xml");
        ASSERT_TRUE(qmtest::WriteFile(path_, kSkin));
    }
    std::wstring Path() const { return std::wstring(path_.begin(), path_.end()); }
    qmtest::TempDir dir_;
    std::string path_;
};

RECT Rect(LONG l, LONG t, LONG r, LONG b) {
    RECT rc;
    rc.left = l;
    rc.top = t;
    rc.right = r;
    rc.bottom = b;
    return rc;
}

TEST_F(SkinTest, UnknownClassesComeFromTheCallbackWithTheirAttributes) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    EXPECT_TRUE(window.skinLoaded());
    // Only the class the library does not know is asked for.
    EXPECT_EQ(window.askedClasses, std::vector<std::wstring>{L"BrowserCtrl"});
    ASSERT_NE(window.browser, nullptr);
    EXPECT_EQ(window.browser->homePage, L"http://127.0.0.1/");
    EXPECT_EQ(window.browser->GetName().str(), L"browser");
    EXPECT_EQ(window.browser->GetBkColor(), 0xFF00FF00u);  // handled by the base after forwarding
    EXPECT_EQ(window.browser->forwarded, (std::vector<std::wstring>{L"name", L"bkcolor", L"frobnicate"}));
    EXPECT_EQ(window.GetPaintManager().FindControl(L"browser"), window.browser);
    EXPECT_EQ(window.GetPaintManager().GetPaintWindow(), window.GetHWND());
}

TEST_F(SkinTest, InitComesBeforeTheFirstLayoutAndTheSkinSizesTheWindow) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    EXPECT_TRUE(window.initSawControls);
    ASSERT_FALSE(Events().empty());
    EXPECT_EQ(Events().front(), "init");
    ASSERT_EQ(window.browser->positions.size(), 1u);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
}

TEST_F(SkinTest, LayoutsPlaceFixedSizesFirstAndShareTheRest) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    CPaintManagerUI& pm = window.GetPaintManager();
    EXPECT_EQ(pm.FindControl(L"title")->GetPos(), Rect(0, 0, 400, 30));
    EXPECT_EQ(pm.FindControl(L"caption")->GetPos(), Rect(0, 0, 320, 30));
    EXPECT_EQ(pm.FindControl(L"min")->GetPos(), Rect(320, 0, 360, 30));
    EXPECT_EQ(pm.FindControl(L"close")->GetPos(), Rect(360, 0, 400, 30));
    EXPECT_EQ(window.browser->GetPos(), Rect(0, 30, 400, 280));
    EXPECT_EQ(pm.FindControl(L"status")->GetPos(), Rect(5, 280, 395, 300));

    // A resize lays out again; the same size does not.
    SetWindowPos(window, nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_EQ(window.browser->positions.size(), 2u);
    EXPECT_EQ(window.browser->GetPos(), Rect(0, 30, 600, 480));
    EXPECT_EQ(pm.FindControl(L"close")->GetPos(), Rect(560, 0, 600, 30));
    SetWindowPos(window, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(window.browser->positions.size(), 2u);

    // Hiding a control gives its space to the others.
    pm.FindControl(L"status")->SetVisible(false);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.browser->GetPos() == Rect(0, 30, 600, 500); }));
}

TEST_F(SkinTest, PaintingGoesThroughTheRenderContext) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    ASSERT_TRUE(qmtest::ShowAndWait(window));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.browser->paints > 0; }));
    EXPECT_TRUE(window.browser->paintedWithContext);
    EXPECT_EQ(window.GetPaintManager().GetRenderCore(), nullptr);  // only during a paint
}

TEST_F(SkinTest, AClickOnAButtonNotifiesWithItsName) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    // Pressed on "close", released on "min": no click.
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(380, 15));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(340, 15));
    EXPECT_TRUE(window.clicks.empty());
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(380, 15));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(381, 16));
    EXPECT_EQ(window.clicks, std::vector<std::wstring>{L"close"});

    // The same through real input events on the shown window.
    ASSERT_TRUE(qmtest::ShowAndWait(window));
    GdkWindow* gdkWindow = qmtest::GdkWindowOf(window);
    qmtest::PutButton(gdkWindow, 335, 10, 1, true);
    qmtest::PutButton(gdkWindow, 336, 11, 1, false, GDK_BUTTON1_MASK);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.clicks.size() == 2; }));
    EXPECT_EQ(window.clicks.back(), L"min");
}

TEST_F(SkinTest, ControlTimersReachTheControlWithTheirId) {
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    CPaintManagerUI& pm = window.GetPaintManager();
    ASSERT_TRUE(pm.SetTimer(window.browser, 3, 15));
    // A window timer with the same number is not the control's.
    SetTimer(window, 3, 15);
    ASSERT_TRUE(qmtest::PumpMainLoopUntil([&] { return window.browser->timerIds.size() >= 2; }));
    for (UINT id : window.browser->timerIds) EXPECT_EQ(id, 3u);
    EXPECT_TRUE(pm.KillTimer(window.browser, 3));
    EXPECT_FALSE(pm.KillTimer(window.browser, 3));
    size_t seen = window.browser->timerIds.size();
    qmtest::PumpMainLoopFor(80ms);
    EXPECT_EQ(window.browser->timerIds.size(), seen);
}

TEST_F(SkinTest, CustomMessagesAndTheEscapeKey) {
    SkinnedWindow window(Path());
    HWND hwnd = window.Create(nullptr, L"skinned", WS_POPUP, 0, 0, 0, 0, 0);
    ASSERT_NE(hwnd, nullptr);
    window.PostMessageW(2024, 108, WM_LBUTTONUP);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !window.customMessages.empty(); }));
    EXPECT_EQ(window.customMessages.front(), 2024u);

    window.suppressEscape = true;
    SendMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
    qmtest::PumpMainLoopFor(50ms);
    EXPECT_TRUE(IsWindow(hwnd));

    // The library's own answer to Esc closes the window.
    window.suppressEscape = false;
    SendMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return !IsWindow(hwnd); }));
    EXPECT_TRUE(window.finalCalled);
}

TEST_F(SkinTest, AMissingOrBrokenSkinDoesNotCrash) {
    SkinnedWindow missing(Path() + L".missing");
    HWND hwnd = missing.Create(nullptr, L"missing", WS_POPUP, 0, 0, 0, 0, 0);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(missing.skinLoaded());
    EXPECT_EQ(missing.GetPaintManager().GetRoot(), nullptr);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));

    ASSERT_TRUE(qmtest::WriteFile(path_, "<Window size=\"10,10\"><VerticalLayout>"));
    SkinnedWindow broken(Path());
    ASSERT_NE(broken.Create(nullptr, L"broken", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    EXPECT_FALSE(broken.skinLoaded());

    ASSERT_TRUE(qmtest::WriteFile(path_, "<Dialog><Label/></Dialog>"));
    SkinnedWindow wrongRoot(Path());
    ASSERT_NE(wrongRoot.Create(nullptr, L"wrong", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    EXPECT_FALSE(wrongRoot.skinLoaded());
}

TEST_F(SkinTest, DeepNestingIsCutOffInsteadOfOverflowing) {
    std::string deep = "<Window size=\"50,50\">";
    for (int i = 0; i < 5000; ++i) deep += "<Container>";
    for (int i = 0; i < 5000; ++i) deep += "</Container>";
    deep += "</Window>";
    ASSERT_TRUE(qmtest::WriteFile(path_, deep));
    SkinnedWindow window(Path());
    ASSERT_NE(window.Create(nullptr, L"deep", WS_POPUP, 0, 0, 0, 0, 0), nullptr);
    EXPECT_TRUE(window.skinLoaded());
}

TEST(InstancePath, IsTheModuleDirectoryWithATrailingSeparator) {
    CPaintManagerUI::SetInstance(nullptr);
    std::wstring path = CPaintManagerUI::GetInstancePath().str();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), L'/');
    std::string narrow(path.begin(), path.end());
    EXPECT_TRUE(qmtest::Exists(narrow + "uilib_skin_test"));
}

TEST(DuiString, ComparesAndConvertsToTheAnsiCodePage) {
    CDuiString text(L"\u4e2d");
    EXPECT_EQ(text.GetStringA(), std::string("\xd6\xd0"));
    EXPECT_TRUE(text == L"\u4e2d");
    CDuiString empty(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
