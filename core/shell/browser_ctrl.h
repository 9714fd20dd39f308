// CBrowserCtrl: the skin control that hosts one embedded browser. The browser
// is created at the control's first layout, kept sized to it, shown after its
// first page when "initimage" asks for that, painted here when windowless, and
// the window can be dragged by a band of the page. When a page cannot be
// loaded, the built-in offline page stands in until it can.
#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "core/shell/offline_recovery.h"
#include "kxcef/cef3_handler.h"
#include "uilib/UiLib.h"

class CBrowserCtrl : public UiLib::CControlUI {
public:
    CBrowserCtrl();
    ~CBrowserCtrl() override;

    const wchar_t* GetClass() const override { return L"BrowserCtrl"; }
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void SetPos(RECT rc) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;

    void SetHomePage(const std::wstring& url) { homePage_ = url; }
    const UiLib::CDuiString& homePage() const { return homePage_; }
    bool windowless() const { return windowless_; }
    void SetFirstDragRect(const RECT& rc) { dragRects_[0] = rc; }

    // Any thread (the voice events' thread asks for the main window's).
    int GetBrowserId();
    void Reload();
    void ShowDevTools();
    // Any thread.
    CefRefPtr<CCEF3Handler> handler() const;

    // Browser events (load start installs the drag hook, load end shows the browser).
    bool OnBrowserEvent(int eventCode, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int value);
    // A failed load's details: the offline page takes its place.
    bool OnEventDetail(CEF3EventDetail detail);
    bool offline() const { return recovery_ && recovery_->offline(); }

private:
    void InstallDragHook();
    OfflineRecovery& Recovery();

    // Written on the UI thread under the lock, read there without it and
    // elsewhere only through handler().
    mutable std::mutex handlerLock_;
    CefRefPtr<CCEF3Handler> handler_;
    UiLib::CDuiString initImage_;
    UiLib::CDuiString homePage_;
    bool windowless_ = false;
    bool ignoreDir_ = true;
    bool hookPending_ = true;
    bool shown_ = false;
    std::array<RECT, 5> dragRects_{};
    HHOOK hook_ = nullptr;
    std::unique_ptr<OfflineRecovery> recovery_;  // made at the first failed load
};
