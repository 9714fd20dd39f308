// Cookies between the facade's CefCookie and the engine's SoupCookie, and the
// rules a cookie must meet to belong to a URL.
#pragma once

#include <libsoup/soup.h>

#include <string>

#include "kxcef/cookie_manager.h"

namespace kxcef {

// The parts of a URL that cookies depend on.
struct CookieUrl {
    std::string scheme;  // "http" or "https"
    std::string host;    // lower case, without brackets
    std::string path;    // "/" when the URL has none
    bool ipHost = false;
};

// True for an http or https URL with a host.
bool ParseCookieUrl(const std::string& url, CookieUrl* out);

// The default path of a cookie set for a URL path: everything before its last
// '/', or "/" when that leaves nothing.
std::string DefaultCookiePath(const std::string& urlPath);

// A new cookie for `url` made from `cookie` (free it with soup_cookie_free),
// or null with the reason in `error`. An empty domain makes a host cookie, an
// empty path the URL's default path; a domain must match the URL's host.
SoupCookie* ToSoupCookie(const CookieUrl& url, const CefCookie& cookie, std::string* error);

CefCookie FromSoupCookie(SoupCookie* cookie);

}  // namespace kxcef
