// The documents that carry the bridge in this web process. Each is known by a
// token that no other document of the client's web processes shares; once its
// frame shows another document the token finds nothing, so whatever is
// addressed to it is dropped rather than given to the next page.
// Web process main thread only.
#pragma once

#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace kxcef {

class DocumentRegistry {
public:
    struct Document {
        std::uint64_t token = 0;
        std::string origin;  // the document's security origin ("null" when opaque)
    };

    // The frame's document whose main-world context is `context`: the one
    // already known when the frame still shows it (a reused window), else a
    // new one whose origin is read from the context before any page script ran
    // (`fresh` tells which).
    const Document& Enter(WebKitFrame* frame, JSCContext* context, bool* fresh);
    // A document the engine brought back from its page cache (its context
    // comes back unchanged, without the window being cleared): it is the
    // frame's document again under the token and origin it had.
    void Restore(WebKitFrame* frame, JSCContext* context, const Document& document);
    // The frame whose current document `token` names (a new reference), or null.
    WebKitFrame* Find(std::uint64_t token);

private:
    struct Record;
    const Document& Install(WebKitFrame* frame, JSCContext* context, Document document);
    struct Entry {
        WebKitFrame* frame;
        const Record* record;
    };
    std::unordered_map<std::uint64_t, Entry> frames_;  // entries leave with their record
};

}  // namespace kxcef
