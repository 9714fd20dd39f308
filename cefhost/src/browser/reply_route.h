// Which document of a page receives what native code sends it (JS commands:
// replies and events). A reply made while the UI thread handles a page's call
// goes to the document that made the call. Anything else goes to the document
// the main frame shows, when its origin is one the host trusts, else to the
// document that made the last trusted call; with neither it goes nowhere. The
// web process runs a command only while its document is still shown, so a
// page that follows (a foreign one the front-end navigated to, or any other)
// never receives what was meant for its predecessor.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/call_scope.h"

namespace kxcef {

// UI thread only.
class ReplyRoute {
public:
    void SetMainDocument(std::uint64_t token, std::string origin);
    // A call from `token` that the host trusts (by its origin) or not.
    void NoteCaller(std::uint64_t token, bool trusted);
    // The document for a command that answers no call in progress; 0 for none.
    std::uint64_t EventDocument() const;

private:
    std::uint64_t mainDocument_ = 0;
    std::string mainOrigin_;
    std::uint64_t trustedCaller_ = 0;
};

// Whether the host's page-call handler trusts documents of `origin` with its
// replies, events and system launches (every origin without a handler).
bool PageOriginTrusted(const std::string& origin);

}  // namespace kxcef
