// The scheme of an address, and which schemes the engine shows itself.
#pragma once

#include <string>

namespace kxcef {

// The address's scheme in lower case (RFC 3986: a letter, then letters,
// digits, '+', '-', '.', ending at the first ':'); empty when it has none.
std::string SchemeOf(const std::string& url);
// Whether the engine shows addresses of `url`'s scheme itself (a navigation
// there is a page load, not a launch request).
bool EngineShowsScheme(const std::string& url);

}  // namespace kxcef
