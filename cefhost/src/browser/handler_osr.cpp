// Sizing, focus, the off-screen bitmap and the render callbacks of
// CCEF3Handler. Windowless browsers paint into their CCEF3OSRHandler's bitmap
// and take their input from the host window's messages.
#include "browser/handler_impl.h"
#include "ui_thread.h"

void CCEF3Handler::InitOSRPaintContext(HWND host, RECT area, int fps) {
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->osr) impl_->osr = new kxcef::CCEF3OSRHandler();
        impl_->boundary = area;
        impl_->windowLess = true;
        osr = impl_->osr;
    }
    osr->Init(host, area, fps);
}

void CCEF3Handler::SetBrowserBoundary(RECT area) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->boundary = area;
}

OSRBitmap* CCEF3Handler::LockOSRBitmap() {
    CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr();
    return osr ? osr->Lock() : nullptr;
}

void CCEF3Handler::UnLockOSRBitmap() {
    if (CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr()) osr->Unlock();
}

void CCEF3Handler::SetCEFSize(RECT area) {
    CefRefPtr<kxcef::BrowserImpl> b;
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        // Any rectangle given before the browser exists is kept: the browser
        // takes it up once it has been created.
        impl_->boundary = area;
        b = impl_->browser;
        osr = impl_->osr;
    }
    if (osr) osr->SetRect(area);
    if (!b) return;
    if (osr) b->GetHost()->WasResized();
    else kxcef::RunOnUi([b, area] { b->SetBounds(area); });
}

void CCEF3Handler::DealInputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr()) osr->DealInputMessage(hwnd, message, wParam, lParam);
}

void CCEF3Handler::SetFocus() {
    if (CefRefPtr<kxcef::BrowserImpl> b = impl_->Browser()) b->GetHost()->SetFocus(true);
}

bool CCEF3Handler::IsWindowLessCEF() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->windowLess;
}

bool CCEF3Handler::GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) {
    KX_ASSERT_UI_THREAD();
    CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr();
    return osr && osr->GetViewRect(rect);
}

void CCEF3Handler::OnPaint(CefRefPtr<CefBrowser>, const std::vector<RECT>& dirtyRects, const void* buffer, int width,
                           int height) {
    KX_ASSERT_UI_THREAD();
    if (CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr()) osr->OnPaint(dirtyRects, buffer, width, height);
}

void CCEF3Handler::OnCursorChange(CefRefPtr<CefBrowser>, HCURSOR cursor) {
    KX_ASSERT_UI_THREAD();
    if (CefRefPtr<kxcef::CCEF3OSRHandler> osr = impl_->Osr()) osr->OnCursorChange(cursor);
}

void CCEF3Handler::UpdateDragCursor(CefRefPtr<CefBrowser>, int) {}
