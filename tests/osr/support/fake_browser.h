// A browser that records the input events its host receives, for the
// off-screen handler's tests.
#pragma once

#include <string>
#include <vector>

#include "kxcef/cef_browser.h"

namespace qmtest {

struct InputEvent {
    enum Kind { Focus, Key, Click, Move, Wheel } kind = Focus;
    bool flag = false;  // focus: set; click: up; move: leave
    int x = 0, y = 0;
    std::uint32_t modifiers = 0;
    int button = 0;
    int clickCount = 0;
    int deltaX = 0, deltaY = 0;
    CefKeyEvent key;
};

class RecordingHost : public CefBrowserHost {
public:
    CefRefPtr<CefBrowser> GetBrowser() override { return nullptr; }
    void CloseBrowser(bool) override { ++closes; }
    void SetFocus(bool focus) override { focusCalls.push_back(focus); }
    void SendFocusEvent(bool setFocus) override;
    HWND GetWindowHandle() override { return nullptr; }
    void WasResized() override { ++resizes; }
    void WasHidden(bool) override {}
    void NotifyMoveOrResizeStarted() override { ++moves; }
    void ShowDevTools() override {}
    void CloseDevTools() override {}
    void SendKeyEvent(const CefKeyEvent& event) override;
    void SendMouseClickEvent(const CefMouseEvent& event, cef_mouse_button_type_t type, bool mouseUp,
                             int clickCount) override;
    void SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) override;
    void SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) override;

    std::vector<InputEvent> Of(InputEvent::Kind kind) const;
    std::vector<InputEvent> events;
    std::vector<bool> focusCalls;
    int closes = 0, resizes = 0, moves = 0;

private:
    KXCEF_IMPLEMENT_REFCOUNTING(RecordingHost);
};

class RecordingBrowser : public CefBrowser {
public:
    RecordingBrowser() : host_(new RecordingHost()) {}
    CefRefPtr<CefBrowserHost> GetHost() override { return host_.get(); }
    int GetIdentifier() override { return 7; }
    bool IsSame(CefRefPtr<CefBrowser> that) override { return that.get() == this; }
    CefRefPtr<CefFrame> GetMainFrame() override { return nullptr; }
    bool CanGoBack() override { return false; }
    bool CanGoForward() override { return false; }
    void GoBack() override {}
    void GoForward() override {}
    void Reload() override {}
    void StopLoad() override {}
    bool IsLoading() override { return false; }
    RecordingHost& host() { return *host_; }

private:
    CefRefPtr<RecordingHost> host_;
    KXCEF_IMPLEMENT_REFCOUNTING(RecordingBrowser);
};

}  // namespace qmtest
