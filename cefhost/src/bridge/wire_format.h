// How the bridge's list values travel in a WebKitUserMessage: the parameters
// are one byte string ("ay") read and written in a single pass, so the cost of
// a message is linear in its size whatever its shape.
//
//   message := version:u8 document:u64 origin:string list
//   list    := count:u32 entry{count}
//   entry   := 'n' | 'b' u8 | 'i' i32 | 'd' f64 | 's' string | 'l' list
//   string  := length:u32 bytes (UTF-8, embedded nulls kept)
//
// Numbers are little-endian.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "kxcef/cef3_manager.h"
#include "kxcef/cef_base.h"

namespace kxcef {

// Lists nested deeper than this travel as null entries.
constexpr int kMaxListDepth = 64;

// What one message may carry: its entries (every list entry at any depth, the
// lists themselves included) and the bytes of its list's strings. A page's call is
// held to these before it leaves the web process; a message beyond them does
// not decode.
// Page commands carry a few name=value pairs; the bounds keep the UI thread's
// work on the largest message a page may send to a few milliseconds.
constexpr size_t kMaxMessageEntries = 1u << 14;
constexpr size_t kMaxMessageTextBytes = 1u << 18;

struct MessageLimits {
    size_t entries;
    size_t textBytes;
};
// What pages send (the bounds above).
constexpr MessageLimits kPageCallLimits{kMaxMessageEntries, kMaxMessageTextBytes};
// What the client sends its pages (replies, events): a bound of its own. A
// large room's member list is far beyond what a page may send, and the page's
// web process decodes it, not the UI thread.
constexpr MessageLimits kToPageLimits{kMaxMessageEntries, kMaxPageCommandTextBytes};

struct MessageExtras {
    std::string origin;         // native calls: the calling document's origin; commands: the addressee's
    std::uint64_t document = 0;  // the calling (or addressed) document; 0 for none
};

// The library's own messages from the web process (no page function can bear
// these names), each naming a document in its extras: the document the page's
// main frame shows now (its list: true when it came back from the engine's
// page cache), a subframe's new document, a user action (pointer or key) in a
// document, and an address a document asks to open (its list: the address)
// right after such an action.
extern const char kMainDocumentMessage[];
extern const char kFrameDocumentMessage[];
extern const char kUserActionMessage[];
extern const char kLaunchIntentMessage[];

// A new, non-floating GVariant (caller unrefs).
GVariant* EncodeMessageParams(const CefListValue& list, const MessageExtras& extras);
// False when `params` is not a bridge message, is malformed or exceeds `limits`.
bool DecodeMessageParams(GVariant* params, CefListValue& list, MessageExtras* extras,
                         const MessageLimits& limits = kPageCallLimits);
// Whether a list fits `limits` (before it is encoded).
bool FitsLimits(const CefListValue& list, const MessageLimits& limits);

}  // namespace kxcef
