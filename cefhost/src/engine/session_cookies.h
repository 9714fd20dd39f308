// Session cookies on disk. WebKit's persistent cookie store keeps only
// cookies with an expiry; the profile keeps the session cookies in a file of
// its own ("SessionCookies", a serialized GVariant) so that they survive the
// engine as the profile's settings require.
#pragma once

#include <libsoup/soup.h>

#include <string>
#include <vector>

namespace kxcef {

// Bytes of the file holding the session cookies (those without expiry) of `cookies`.
std::string SerializeSessionCookies(GList* cookies);
// The cookies of such a file; malformed input gives none. Free each with soup_cookie_free.
std::vector<SoupCookie*> ParseSessionCookies(const std::string& bytes);

}  // namespace kxcef
