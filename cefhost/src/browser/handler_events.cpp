// The engine's per-browser callbacks of CCEF3Handler, fanned out to the
// caller's delegates.
#include <atomic>

#include "browser/handler_impl.h"
#include "engine/js_command_listener.h"
#include "kxcef/testing.h"
#include "log.h"
#include "platform/text.h"
#include "ui_thread.h"
#include "uilib/win32.h"

namespace {
const wchar_t kIgnoredDownload[] = L"RuvikBrowser.exe";
std::atomic<KXCEF2KeyEventObserver> g_keyObserver{nullptr};

// The deployment's schemes besides http, https and mailto.
std::vector<std::string> LaunchSchemesOf(const CCEF3Handler::Impl& impl) {
    CefRefPtr<kxcef::BrowserImpl> browser = impl.Browser();
    return browser && browser->profile() ? browser->profile()->switches().launchSchemes : std::vector<std::string>();
}
}  // namespace

extern "C" KXCEF2_API KXCEF2KeyEventObserver
KXCEF2_SetKeyEventObserverForTesting(KXCEF2KeyEventObserver observer) {
    return g_keyObserver.exchange(observer);
}

void CCEF3Handler::OnAfterCreated(CefRefPtr<CefBrowser> browser) {
    KX_ASSERT_UI_THREAD();
    auto* impl = dynamic_cast<kxcef::BrowserImpl*>(browser.get());
    if (!impl) return;
    bool hidden;
    RECT boundary;
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->browser) return;
        impl_->browser = impl;
        impl_->browserId = browser->GetIdentifier();
        hidden = impl_->hidden;
        boundary = impl_->boundary;
        osr = impl_->osr;
    }
    // The size may have changed while the browser was being created.
    if (osr) {
        osr->SetBrowser(browser);
        browser->GetHost()->WasResized();
    } else {
        impl->SetBounds(boundary);
    }
    CefRefPtr<CefFrame> main = browser->GetMainFrame();
    impl_->browserEvent.FanOut([&](CCEF3BrowserDelegateBase* d) {
        return d->InvokeBrowserEvent(CEF3_EVENT_CREATED, browser, main, 0);
    });
    if (hidden) ShowBrowser(false);
}

bool CCEF3Handler::DoClose(CefRefPtr<CefBrowser> browser) {
    KX_ASSERT_UI_THREAD();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->browser && impl_->browser.get() == browser.get()) impl_->closing = true;
    return false;
}

void CCEF3Handler::OnBeforeClose(CefRefPtr<CefBrowser> browser) {
    KX_ASSERT_UI_THREAD();
    CefRefPtr<CCEF3Handler> self(this);  // the command list may hold the last reference
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->browser || impl_->browser.get() != browser.get()) return;
    }
    kxcef::LeaveCommandListener(this);
    HWND mainWindow;
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->browser = nullptr;
        mainWindow = impl_->mainWindow;
        osr = impl_->osr;
    }
    if (osr) osr->SetBrowser(nullptr);
    if (mainWindow && mainWindow != kxcef::QuitWindow()) UiLib::PostMessageW(mainWindow, WM_CLOSE, 0, 0);
}

bool CCEF3Handler::OnBeforePopup(CefRefPtr<CefBrowser> browser, const CefString& targetUrl) {
    return OnBeforePopup(browser, targetUrl, false);
}

bool CCEF3Handler::OnBeforePopup(CefRefPtr<CefBrowser>, const CefString& targetUrl, bool userGesture) {
    KX_ASSERT_UI_THREAD();
    bool handled = false;
    impl_->newLink.FanOut([&](CCEF3BrowserDelegateBase* d) {
        return d->InvokeNewBrowserLink(targetUrl, L"", L"", L"", CEF3_LINK_POPUP, &handled);
    });
    if (!handled)
        kxcef::LaunchForPage(platform::WideToUtf8(targetUrl), kxcef::LaunchLedger::Kind::Popup, userGesture,
                             impl_->launch, LaunchSchemesOf(*impl_));
    return true;
}

void CCEF3Handler::OnLoadingStateChange(CefRefPtr<CefBrowser>, bool isLoading, bool canGoBack, bool canGoForward) {
    KX_ASSERT_UI_THREAD();
    impl_->loadState.FanOut(
        [&](CCEF3BrowserDelegateBase* d) { return d->InvokeLoadState(isLoading, canGoBack, canGoForward); });
}

void CCEF3Handler::OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame) {
    KX_ASSERT_UI_THREAD();
    impl_->browserEvent.FanOut(
        [&](CCEF3BrowserDelegateBase* d) { return d->InvokeBrowserEvent(CEF3_EVENT_LOAD_START, browser, frame, 0); });
}

void CCEF3Handler::OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int httpStatusCode) {
    KX_ASSERT_UI_THREAD();
    impl_->browserEvent.FanOut([&](CCEF3BrowserDelegateBase* d) {
        return d->InvokeBrowserEvent(CEF3_EVENT_LOAD_END, browser, frame, httpStatusCode);
    });
    if (auto* b = dynamic_cast<kxcef::BrowserImpl*>(browser.get()))
        if (kxcef::WXRequestContextHandler* context = b->request_context_handler()) context->FlushCookieStore();
}

void CCEF3Handler::OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int errorCode,
                               const CefString& errorText, const CefString& failedUrl) {
    KX_ASSERT_UI_THREAD();
    impl_->browserEvent.FanOut([&](CCEF3BrowserDelegateBase* d) {
        return d->InvokeBrowserEvent(CEF3_EVENT_LOAD_ERROR, browser, frame, errorCode);
    });
    impl_->eventDetail.FanOut([&](CCEF3BrowserDelegateBase* d) {
        CEF3EventDetail detail;
        detail.eventCode = CEF3_EVENT_LOAD_ERROR;
        detail.value = errorCode;
        detail.text1 = failedUrl;
        detail.text2 = errorText;
        return d->InvokeEventDetail(std::move(detail));
    });
}

void CCEF3Handler::OnTitleChange(CefRefPtr<CefBrowser>, const CefString& title) {
    KX_ASSERT_UI_THREAD();
    std::string text = platform::WideToAnsi(title);
    impl_->display.FanOut([&](CCEF3BrowserDelegateBase* d) { return d->InvokeDisplay(text, CEF3_DISPLAY_TITLE); });
}

void CCEF3Handler::OnAddressChange(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString& url) {
    KX_ASSERT_UI_THREAD();
    std::string text = platform::WideToUtf8(url);
    impl_->display.FanOut([&](CCEF3BrowserDelegateBase* d) { return d->InvokeDisplay(text, CEF3_DISPLAY_ADDRESS); });
}

bool CCEF3Handler::OnBeforeBrowse(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, const CefString& url,
                                  const CefString& referrer, bool /*isRedirect*/) {
    KX_ASSERT_UI_THREAD();
    if (impl_->newLink.empty()) return false;
    std::wstring frameUrl = frame ? frame->GetURL() : std::wstring();
    std::wstring frameName = frame && frame->IsMain() ? frame->GetName() : std::wstring(L"SubFrame");
    bool cancel = false;
    impl_->newLink.FanOut([&](CCEF3BrowserDelegateBase* d) {
        return d->InvokeNewBrowserLink(url, referrer, frameUrl, frameName, CEF3_LINK_NAVIGATION, &cancel);
    });
    return cancel;
}

void CCEF3Handler::OnBeforeDownload(CefRefPtr<CefBrowser>, const CefString& url, const CefString& suggestedName) {
    KX_ASSERT_UI_THREAD();
    if (suggestedName == kIgnoredDownload) return;
    std::string urlText = platform::WideToAnsi(url);
    std::string nameText = platform::WideToAnsi(suggestedName);
    bool handled = false;
    impl_->download.FanOut(
        [&](CCEF3BrowserDelegateBase* d) { return d->InvokeDownloadTask(urlText, nameText, &handled); });
    if (!handled)
        kxcef::LaunchForPage(platform::WideToUtf8(url), kxcef::LaunchLedger::Kind::Download, false, impl_->launch,
                             LaunchSchemesOf(*impl_));
}


bool CCEF3Handler::OnKeyEvent(CefRefPtr<CefBrowser>, UINT nativeMessage, int windowsKeyCode) {
    KX_ASSERT_UI_THREAD();
    if (KXCEF2KeyEventObserver observer = g_keyObserver.load())
        observer(GetBrowserId(), nativeMessage, windowsKeyCode);
    if (nativeMessage != WM_KEYDOWN) return false;
    if (windowsKeyCode == VK_F5) {
        Reload();
        return true;
    }
    if (windowsKeyCode == VK_F12) {
        ShowDevTools();
        return true;
    }
    return false;
}
