// CCEF3Handler::SyncCookie: reopens one browser's cookie store from disk and
// writes it out again.
#include "browser/handler_impl.h"
#include "ui_thread.h"

void CCEF3Handler::SyncCookie() {
    CefRefPtr<kxcef::BrowserImpl> b = impl_->Browser();
    if (!b) return;
    kxcef::RunOnUi([b] {
        kxcef::WXRequestContextHandler* context = b->request_context_handler();
        if (!context || !context->context()) return;
        // The session cookies come back from the profile's file when the store
        // reopens: write them first, or those set since the last write are lost.
        std::shared_ptr<kxcef::ProfileContext> profile = context->context();
        profile->FlushCookieStore([profile] { profile->ReopenCookieStore([profile] { profile->FlushCookieStore({}); }); });
    });
}
