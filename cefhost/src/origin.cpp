#include "kxcef/origin.h"

#include <webkit2/webkit2.h>

std::string OriginOfAddress(const std::string& address) {
    // The engine trims and skips what its address parser ignores; an address
    // with a NUL inside is not one address.
    if (address.find('\0') != std::string::npos) return {};
    WebKitSecurityOrigin* origin = webkit_security_origin_new_for_uri(address.c_str());
    if (!origin) return {};
    std::string out;
    const gchar* host = webkit_security_origin_get_host(origin);
    if (host && *host) {
        gchar* text = webkit_security_origin_to_string(origin);
        if (text) out = text;
        g_free(text);
    }
    webkit_security_origin_unref(origin);
    return out;
}
