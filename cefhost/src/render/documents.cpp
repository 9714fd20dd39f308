#include "render/documents.h"

namespace kxcef {
namespace {

const char kDocumentKey[] = "kxcef-document";

// Tokens of different web processes differ in their upper half, chosen at
// random once per process; the lower half counts.
std::uint64_t NextToken() {
    static const std::uint64_t process = static_cast<std::uint64_t>(g_random_int()) << 32;
    static std::uint32_t counter = 0;
    if (++counter == 0) ++counter;
    return process | counter;
}

// The security origin the engine gives the document: read through the global
// object's own "origin", which no page script has had a chance to replace.
std::string SecurityOrigin(JSCContext* context) {
    JSCValue* global = jsc_context_get_global_object(context);
    JSCValue* origin = jsc_value_object_get_property(global, "origin");
    std::string out;
    if (jsc_value_is_string(origin)) {
        gchar* text = jsc_value_to_string(origin);
        out = text ? text : "";
        g_free(text);
    }
    g_object_unref(origin);
    g_object_unref(global);
    jsc_context_clear_exception(context);
    return out;
}

}  // namespace

struct DocumentRegistry::Record {
    DocumentRegistry* owner;
    Document document;
    JSCContext* context;  // a reference: its address names this document alone
};

const DocumentRegistry::Document& DocumentRegistry::Enter(WebKitFrame* frame, JSCContext* context, bool* fresh) {
    auto* current = static_cast<Record*>(g_object_get_data(G_OBJECT(frame), kDocumentKey));
    *fresh = !(current && current->context == context);
    if (!*fresh) return current->document;
    return Install(frame, context, {NextToken(), SecurityOrigin(context)});
}

void DocumentRegistry::Restore(WebKitFrame* frame, JSCContext* context, const Document& document) {
    auto* current = static_cast<Record*>(g_object_get_data(G_OBJECT(frame), kDocumentKey));
    if (current && current->context == context && current->document.token == document.token) return;
    Install(frame, context, document);
}

const DocumentRegistry::Document& DocumentRegistry::Install(WebKitFrame* frame, JSCContext* context,
                                                            Document document) {
    auto* record = new Record{this, std::move(document), JSC_CONTEXT(g_object_ref(context))};
    // Replacing the frame's record, or the frame's end, forgets the old token.
    g_object_set_data_full(G_OBJECT(frame), kDocumentKey, record, [](gpointer p) {
        auto* r = static_cast<Record*>(p);
        auto it = r->owner->frames_.find(r->document.token);
        if (it != r->owner->frames_.end() && it->second.record == r) r->owner->frames_.erase(it);
        g_object_unref(r->context);
        delete r;
    });
    frames_[record->document.token] = {frame, record};
    return record->document;
}

WebKitFrame* DocumentRegistry::Find(std::uint64_t token) {
    auto it = frames_.find(token);
    if (it == frames_.end()) return nullptr;
    WebKitFrame* frame = WEBKIT_FRAME(g_object_ref(it->second.frame));
    // Asking for the frame's context sets up a document it shows by now but
    // whose window was never cleared, which replaces its record.
    JSCContext* context = webkit_frame_get_js_context(frame);
    auto* record = static_cast<Record*>(g_object_get_data(G_OBJECT(frame), kDocumentKey));
    bool current = record && record->document.token == token && record->context == context;
    g_object_unref(context);
    if (current) return frame;
    g_object_unref(frame);
    return nullptr;
}

}  // namespace kxcef
