#include "cookies/cookie_handlers.h"

CCEF3CookieVisitor::CCEF3CookieVisitor(std::shared_ptr<kxcef::CookieCall> call, bool deleteAfterRead,
                                       CefRefPtr<kxcef::CookieStore> store)
    : call_(std::move(call)), deleteAfterRead_(deleteAfterRead), store_(std::move(store)) {}

CCEF3CookieVisitor::~CCEF3CookieVisitor() {
    // Session cookies live in a file of the profile: without a flush, the
    // deleted ones would come back with the next start.
    if (deletedAny_ && store_) store_->FlushStore(nullptr);
    if (call_) call_->Finish();
}

bool CCEF3CookieVisitor::Visit(const CefCookie& cookie, int, int, bool& deleteCookie) {
    if (call_) call_->Add(cookie);
    if (deleteAfterRead_) {
        deleteCookie = true;
        deletedAny_ = true;
    }
    return true;
}
