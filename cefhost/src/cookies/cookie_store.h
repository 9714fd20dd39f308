// The engine's cookie store of one profile, with the operations the cookie
// facade and the request contexts use. Every member runs on the UI thread;
// each operation starts once the profile's saved cookies are back in the
// store and keeps the profile alive until its callback has run.
#pragma once

#include <memory>
#include <string>

#include "cookies/cookie_interfaces.h"
#include "engine/profile_context.h"

namespace kxcef {

// Source name of the cookie log lines.
extern const char kLogCookies[];  // "CEF\\CEF3CookieManager"

class CookieStore : public CefBaseRefCounted {
public:
    // The store of the process's profile directory, shared with every browser
    // on it; null while the engine is not running. `callback` runs once the
    // store is ready.
    static CefRefPtr<CookieStore> GetGlobalManager(CefRefPtr<CefCompletionCallback> callback);

    explicit CookieStore(std::shared_ptr<ProfileContext> profile);

    // Visits the cookies that a request to `url` would carry (HTTP-only ones
    // only when asked), deleting those the visitor marks. The visitor is
    // released after the last cookie and its deletion, or at once when there
    // is none. False when nothing is visited (bad URL).
    bool VisitUrlCookies(const std::string& url, bool includeHttpOnly, CefRefPtr<CefCookieVisitor> visitor);
    // Sets `cookie` for `url`; the callback learns whether the store took it.
    bool SetCookie(const std::string& url, const CefCookie& cookie, CefRefPtr<CefSetCookieCallback> callback);
    // Deletes the cookies of `url` named `name`; with an empty name every host
    // cookie of the URL's host, whatever its path. HTTP-only ones included;
    // the callback learns how many went.
    bool DeleteCookies(const std::string& url, const std::string& name, CefRefPtr<CefDeleteCookiesCallback> callback);
    // Writes what the engine keeps only in memory (session cookies) to the profile.
    bool FlushStore(CefRefPtr<CefCompletionCallback> callback);

    const std::shared_ptr<ProfileContext>& profile() const { return profile_; }

private:
    ~CookieStore() override;
    std::shared_ptr<ProfileContext> profile_;
    KXCEF_IMPLEMENT_REFCOUNTING(CookieStore);
};

}  // namespace kxcef
