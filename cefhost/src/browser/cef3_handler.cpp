#include "kxcef/cef3_handler.h"

#include "browser/handler_impl.h"
#include "engine/js_command_listener.h"
#include "log.h"
#include "ui_thread.h"

std::map<HWND, std::vector<CCEF3Handler*>> CCEF3Handler::s_HandlerMap;

CCEF3Handler::CCEF3Handler() : impl_(new Impl()) {}
CCEF3Handler::~CCEF3Handler() = default;

// --- Caller operations -------------------------------------------------------------

void CCEF3Handler::NavigateTo(std::string url) {
    if (auto b = impl_->Browser()) b->LoadUrl(url);
}

void CCEF3Handler::GoBack() {
    if (auto b = impl_->Browser()) b->GoBack();
}

void CCEF3Handler::GoForward() {
    if (auto b = impl_->Browser()) b->GoForward();
}

void CCEF3Handler::Reload() {
    auto b = impl_->Browser();
    if (!b) return;
    kxcef::RunOnUi([b] {
        kxcef::WXRequestContextHandler* context = b->request_context_handler();
        if (!context) {
            b->Reload();
            return;
        }
        // The page reloads once the cookie store has been written out and
        // read back in, so that it sees every cookie it had.
        std::shared_ptr<kxcef::ProfileContext> profile = context->context();
        context->FlushCookieStore([b, profile] {
            profile->ReopenCookieStore([b] { b->Reload(); });
        });
    });
}

void CCEF3Handler::ShowBrowser(bool show) {
    if (!kxcef::IsUiThread()) {
        CefRefPtr<CCEF3Handler> self(this);
        kxcef::PostToUi([self, show] { self->ShowBrowser(show); });
        return;
    }
    RECT boundary;
    CefRefPtr<kxcef::BrowserImpl> b;
    bool windowLess;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->hidden = !show;
        b = impl_->browser;
        boundary = impl_->boundary;
        windowLess = impl_->windowLess;
    }
    if (!b) return;  // applied by OnAfterCreated
    if (windowLess) b->GetHost()->WasHidden(!show);
    else b->Show(show, boundary);
}

void CCEF3Handler::CloseBrowser() {
    DealOSRInputMsg(nullptr, IsWindowLessCEF());
    if (IsClosing()) return;
    if (auto b = impl_->Browser()) b->GetHost()->CloseBrowser(false);
}

void CCEF3Handler::ShowDevTools() {
    if (auto b = impl_->Browser()) b->GetHost()->ShowDevTools();
}

void CCEF3Handler::CloseDevTools() {
    if (auto b = impl_->Browser()) b->GetHost()->CloseDevTools();
}

CefRefPtr<CefBrowser> CCEF3Handler::GetBrowser() { return impl_->Browser(); }

int CCEF3Handler::GetBrowserId() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->browserId;
}

bool CCEF3Handler::IsClosing() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->closing;
}

void CCEF3Handler::SetMainWindowHandle(HWND hwnd) {
    if (!kxcef::IsUiThread()) {
        CefRefPtr<CCEF3Handler> self(this);
        kxcef::PostToUi([self, hwnd] { self->SetMainWindowHandle(hwnd); });
        return;
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->mainWindow = hwnd;
}

HWND CCEF3Handler::GetMainWindowHandle() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->mainWindow;
}

void CCEF3Handler::SetBrowserEventCallBack(const CCEF3BrowserDelegateBase& d) { impl_->browserEvent.Add(d); }
void CCEF3Handler::SetBrowserEventDetailCallBack(const CCEF3BrowserDelegateBase& d) { impl_->eventDetail.Add(d); }
void CCEF3Handler::SetStateLoadChangeCallBack(const CCEF3BrowserDelegateBase& d) { impl_->loadState.Add(d); }
void CCEF3Handler::SetBrowserDisplayCallBack(const CCEF3BrowserDelegateBase& d) { impl_->display.Add(d); }
void CCEF3Handler::SetNewBrowserLinkCallBack(const CCEF3BrowserDelegateBase& d) { impl_->newLink.Add(d); }
void CCEF3Handler::SetDownloadTaskCallBack(const CCEF3BrowserDelegateBase& d) { impl_->download.Add(d); }
