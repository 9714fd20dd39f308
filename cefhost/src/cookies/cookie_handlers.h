// The callback objects the cookie facade hands to the engine's store. The
// store releases each of them once the work it was given for has ended, so
// their destructors mark the end of a facade call.
#pragma once

#include <functional>
#include <memory>

#include "cookies/cookie_call.h"
#include "cookies/cookie_interfaces.h"
#include "cookies/cookie_store.h"

// Collects the visited cookies into a facade call, marking them for deletion
// when asked; its release ends the call.
class CCEF3CookieVisitor : public CefCookieVisitor {
public:
    // `store` is flushed at the end when cookies were deleted.
    CCEF3CookieVisitor(std::shared_ptr<kxcef::CookieCall> call, bool deleteAfterRead,
                       CefRefPtr<kxcef::CookieStore> store);
    bool Visit(const CefCookie& cookie, int count, int total, bool& deleteCookie) override;

private:
    ~CCEF3CookieVisitor() override;
    std::shared_ptr<kxcef::CookieCall> call_;
    bool deleteAfterRead_;
    CefRefPtr<kxcef::CookieStore> store_;
    bool deletedAny_ = false;
    KXCEF_IMPLEMENT_REFCOUNTING(CCEF3CookieVisitor);
};

// Shared by all settings or deletions of one call. The individual results
// are ignored; `released` runs when the last of them has ended.
template <class Callback, class Result>
class ReleasingCookieHandler : public Callback {
public:
    explicit ReleasingCookieHandler(std::function<void()> released = {}) : released_(std::move(released)) {}
    void OnComplete(Result) override {}

private:
    ~ReleasingCookieHandler() override {
        if (released_) released_();
    }
    std::function<void()> released_;
    KXCEF_IMPLEMENT_REFCOUNTING(ReleasingCookieHandler);
};
using SetCookieHandler = ReleasingCookieHandler<CefSetCookieCallback, bool>;
using DeleteCookieHandler = ReleasingCookieHandler<CefDeleteCookiesCallback, int>;

