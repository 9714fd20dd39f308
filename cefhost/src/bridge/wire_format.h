// How the bridge's list values travel in a WebKitUserMessage: the parameters
// are "(ava{sv})", the argument list and a dictionary of extras. Entries are
// variants: "b" bool, "i" int, "d" double, "ay" UTF-8 string bytes (embedded
// nulls survive, unlike "s"), "av" nested list, "()" null.
#pragma once

#include <glib.h>

#include <string>

#include "kxcef/cef_base.h"

namespace kxcef {

// Lists nested deeper than this travel as null entries.
constexpr int kMaxListDepth = 64;

struct MessageExtras {
    std::string origin;  // the calling frame's origin (native calls)
};

// A new, non-floating GVariant (caller unrefs).
GVariant* EncodeMessageParams(const CefListValue& list, const MessageExtras& extras);
// False when `params` is not of the bridge's type.
bool DecodeMessageParams(GVariant* params, CefListValue& list, MessageExtras* extras);

}  // namespace kxcef
