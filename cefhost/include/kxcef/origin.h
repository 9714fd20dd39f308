// The origin of an address as the engine writes a document's origin: the one
// spelling that lists of trusted origins are compared in.
#pragma once

#include <string>

#include "kxcef/export.h"

// "scheme://host[:port]" of the document the engine would load from
// `utf8Address`, read with the engine's own address parser: scheme and host in
// lower case, international names in punycode, percent escapes in the host
// decoded, IPv4 and IPv6 addresses in their canonical form, no user
// information, no default port. Empty when the address has no host or the
// engine refuses it. Any thread; needs no running engine.
KXCEF2_API std::string OriginOfAddress(const std::string& utf8Address);
