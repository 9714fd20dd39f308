// Sizing, focus and the windowless-browser members of CCEF3Handler. Painting
// into a bitmap and input forwarding for windowless browsers arrive with the
// off-screen rendering work; until then a windowless browser renders in its
// off-screen window and offers no bitmap.
#include "browser/handler_impl.h"
#include "ui_thread.h"

void CCEF3Handler::InitOSRPaintContext(HWND host, RECT area, int fps) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->osr) impl_->osr.reset(new Impl::Osr());
    impl_->boundary = area;
    impl_->windowLess = true;
    impl_->osr->host = host;
    impl_->osr->rect = area;
    impl_->osr->fps = fps;
}

void CCEF3Handler::SetBrowserBoundary(RECT area) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->boundary = area;
}

OSRBitmap* CCEF3Handler::LockOSRBitmap() {
    Impl::Osr* osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        osr = impl_->osr.get();
    }
    if (!osr) return nullptr;
    osr->lock.lock();
    return osr->bitmap.pixels ? &osr->bitmap : nullptr;
}

void CCEF3Handler::UnLockOSRBitmap() {
    Impl::Osr* osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        osr = impl_->osr.get();
    }
    if (osr) osr->lock.unlock();
}

void CCEF3Handler::SetCEFSize(RECT area) {
    CefRefPtr<kxcef::BrowserImpl> b;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        // Before the browser exists the rectangle is remembered as its boundary.
        impl_->boundary = area;
        if (impl_->osr) impl_->osr->rect = area;
        b = impl_->browser;
    }
    if (!b) return;
    kxcef::RunOnUi([b, area] { b->SetBounds(area); });
}

void CCEF3Handler::DealInputMessage(HWND, UINT, WPARAM, LPARAM) {}

void CCEF3Handler::DealOSRInputMsg(HWND hwnd, bool windowLess) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (hwnd && hwnd == impl_->mainWindow) impl_->windowLess = windowLess;
}

LRESULT CCEF3Handler::OSRCEFProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

void CCEF3Handler::SetFocus() {
    CefRefPtr<kxcef::BrowserImpl> b = impl_->Browser();
    if (!b) return;
    kxcef::RunOnUi([b] { b->Focus(); });
}

bool CCEF3Handler::IsWindowLessCEF() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->windowLess;
}

bool CCEF3Handler::GetViewRect(CefRefPtr<CefBrowser>, RECT& rect) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->osr || !impl_->osr->host) return false;
    rect = impl_->osr->rect;
    return true;
}

void CCEF3Handler::OnPaint(CefRefPtr<CefBrowser>, const std::vector<RECT>&, const void*, int, int) {}
void CCEF3Handler::OnCursorChange(CefRefPtr<CefBrowser>, HCURSOR) {}

void CCEF3Handler::SyncCookie() {
    CefRefPtr<kxcef::BrowserImpl> b = impl_->Browser();
    if (!b) return;
    kxcef::RunOnUi([b] {
        kxcef::WXRequestContextHandler* context = b->request_context_handler();
        if (!context) return;
        std::shared_ptr<kxcef::ProfileContext> profile = context->context();
        profile->FlushCookieStore([profile] { profile->ReopenCookieStore([profile] { profile->FlushCookieStore({}); }); });
    });
}
