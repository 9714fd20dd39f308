// A frame's JavaScript context for JavaScriptCore's C API, which the bridge
// uses for every value that crosses it.
//
// Engine workaround, WebKitGTK 2.50 (API 4.1): the GLib API (JSCContext,
// JSCValue) makes a GObject wrapper for every value handed to or taken from a
// page, and its UTF-8 conversion stops at an unpaired surrogate, so each page
// string needed a call back into JavaScript to be made well-formed: a
// synchronous page call cost several times a bare engine call. The C API
// passes values as they are and strings as UTF-16. Only the getters of a
// frame's C API context are deprecated (in 4.1; gone in the GTK 4 API 6.0):
// this can go when the GLib API offers the same (unwrapped arguments, UTF-16
// strings) or when the client moves to API 6.0, whichever comes first.
#pragma once

#include <JavaScriptCore/JavaScript.h>
#include <webkit2/webkit-web-extension.h>

namespace kxcef {

// The context of the frame's current document in `world`; not owned (it lives
// as long as the document's global object). Null when the frame has none.
inline JSGlobalContextRef FrameContext(WebKitFrame* frame, WebKitScriptWorld* world) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return webkit_frame_get_javascript_context_for_script_world(frame, world);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// The same in the page's main world.
inline JSGlobalContextRef FrameContext(WebKitFrame* frame) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return webkit_frame_get_javascript_global_context(frame);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace kxcef
