#include "cookies/cookie_convert.h"

#include <algorithm>

#include "platform/text.h"

namespace kxcef {
namespace {

// Name and value travel in a Cookie header: separators and control
// characters would split or corrupt it.
bool CleanToken(const std::string& text, bool isName) {
    for (unsigned char ch : text) {
        if (ch < 0x20 || ch == 0x7f || ch == ';') return false;
        if (isName && ch == '=') return false;
    }
    return true;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ParseCookieUrl(const std::string& url, CookieUrl* out) {
    if (url.empty()) return false;
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (!uri) return false;
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const char* path = g_uri_get_path(uri);
    CookieUrl parsed;
    parsed.scheme = platform::ToLowerAscii(std::string(scheme ? scheme : ""));
    parsed.host = platform::ToLowerAscii(std::string(host ? host : ""));
    parsed.path = path && *path ? path : "/";
    g_uri_unref(uri);
    if (parsed.scheme != "http" && parsed.scheme != "https") return false;
    if (parsed.host.empty()) return false;
    parsed.ipHost = g_hostname_is_ip_address(parsed.host.c_str());
    if (out) *out = parsed;
    return true;
}

std::string DefaultCookiePath(const std::string& urlPath) {
    if (urlPath.empty() || urlPath[0] != '/') return "/";
    size_t slash = urlPath.rfind('/');
    return slash == 0 ? "/" : urlPath.substr(0, slash);
}

SoupCookie* ToSoupCookie(const CookieUrl& url, const CefCookie& cookie, std::string* error) {
    auto fail = [error](const char* why) -> SoupCookie* {
        if (error) *error = why;
        return nullptr;
    };
    std::string name = platform::WideToUtf8(cookie.name);
    std::string value = platform::WideToUtf8(cookie.value);
    if (name.empty() && value.empty()) return fail("the cookie has neither name nor value");
    if (!CleanToken(name, true) || !CleanToken(value, false))
        return fail("the name or value holds a separator or control character");

    std::string domain = platform::ToLowerAscii(platform::WideToUtf8(cookie.domain));
    if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
    std::string cookieDomain;
    if (domain.empty()) {
        cookieDomain = url.host;  // a host cookie
    } else if (domain == url.host) {
        // An address has no sub-domains: its cookies are host cookies.
        cookieDomain = url.ipHost ? url.host : "." + domain;
    } else if (!url.ipHost && EndsWith(url.host, "." + domain) && domain.find('.') != std::string::npos) {
        cookieDomain = "." + domain;
    } else {
        return fail("the domain does not match the URL's host");
    }

    std::string path = platform::WideToUtf8(cookie.path);
    if (path.empty() || path[0] != '/') path = DefaultCookiePath(url.path);
    if (!CleanToken(path, false)) return fail("the path holds a separator or control character");

    GDateTime* expires = nullptr;
    if (cookie.has_expires) {
        expires = g_date_time_new_from_unix_utc(cookie.expires);
        if (!expires) return fail("the expiry date is out of range");
    }
    SoupCookie* c = soup_cookie_new(name.c_str(), value.c_str(), cookieDomain.c_str(), path.c_str(), -1);
    if (expires) {
        soup_cookie_set_expires(c, expires);
        g_date_time_unref(expires);
    }
    soup_cookie_set_secure(c, cookie.secure);
    soup_cookie_set_http_only(c, cookie.httponly);
    return c;
}

CefCookie FromSoupCookie(SoupCookie* c) {
    CefCookie out;
    auto text = [](const char* s) { return platform::Utf8ToWideLenient(std::string(s ? s : "")); };
    out.name = text(soup_cookie_get_name(c));
    out.value = text(soup_cookie_get_value(c));
    out.domain = text(soup_cookie_get_domain(c));
    out.path = text(soup_cookie_get_path(c));
    out.secure = soup_cookie_get_secure(c);
    out.httponly = soup_cookie_get_http_only(c);
    if (GDateTime* expires = soup_cookie_get_expires(c)) {
        out.has_expires = true;
        out.expires = g_date_time_to_unix(expires);
    }
    return out;
}

}  // namespace kxcef
