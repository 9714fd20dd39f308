// A blocking facade over the engine's cookie store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kxcef/cef_base.h"
#include "platform/event.h"

struct CefCookie {
    CefString name;
    CefString value;
    CefString domain;
    CefString path;
    bool secure = false;
    bool httponly = false;
    bool has_expires = false;
    std::int64_t expires = 0;  // seconds since the epoch, when has_expires
};

class KXCEF2_API CCEF3CookieManager {
public:
    CCEF3CookieManager();
    ~CCEF3CookieManager();
    CCEF3CookieManager(const CCEF3CookieManager&) = delete;
    CCEF3CookieManager& operator=(const CCEF3CookieManager&) = delete;

    // Cookies of `url` (HTTP-only ones excluded), deleting them when asked.
    std::vector<CefCookie> GetCookie(const CefString& url, bool deleteAfterRead, platform::Event* done);
    void SetCookies(const CefString& url, std::vector<CefCookie>& cookies, platform::Event* done);
    // Deletes the cookies named `name` that a request to `url` carries; with an
    // empty `name`, every host cookie of the URL's host, whatever its path.
    void DeleteCookies(const CefString& url, const CefString& name, platform::Event* done);

private:
    struct Impl;
    Impl* impl_ = nullptr;
};
