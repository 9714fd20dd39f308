#include "render/v8_handler.h"

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "log.h"
#include "render/js_values.h"

namespace kxcef {
namespace {

// True when global[objectName] is an object with a property `functionName`.
bool GlobalObjectHas(JSCContext* context, const std::string& objectName, const std::string& functionName) {
    if (objectName.empty()) return false;
    JSCValue* global = jsc_context_get_global_object(context);
    JSCValue* object = jsc_value_object_get_property(global, objectName.c_str());
    bool found = jsc_value_is_object(object) && jsc_value_object_has_property(object, functionName.c_str());
    g_object_unref(object);
    g_object_unref(global);
    jsc_context_clear_exception(context);
    return found;
}

// One line per call refused for its size; a page may call in a loop, so past
// a hundred lines refusals are only counted (web process main thread).
void LogRefusedCall(const std::string& name, const std::string& origin) {
    constexpr size_t kMaxRefusalLines = 100;
    static size_t refused = 0;
    size_t n = ++refused;
    if (n > kMaxRefusalLines + 1) return;
    if (n == kMaxRefusalLines + 1) {
        LogWarning(kLogApp, "more page calls beyond the message limits refused; no further lines for them");
        return;
    }
    LogWarning(kLogApp, "page call " + name + " from origin " + (origin.empty() ? "(unknown)" : origin) +
                            " refused: more than " + std::to_string(kMaxMessageEntries) + " values or " +
                            std::to_string(kMaxMessageTextBytes) + " bytes of text");
}

}  // namespace

PendingCallbackTable::~PendingCallbackTable() {
    for (auto& e : entries_) Release(e.second);
}

void PendingCallbackTable::Release(Entry& entry) {
    if (entry.function) g_object_unref(entry.function);
    if (entry.context) g_object_unref(entry.context);
    g_weak_ref_clear(&entry.frame);
    entry.function = nullptr;
    entry.context = nullptr;
}

void PendingCallbackTable::Put(int id, JSCContext* context, JSCValue* function, WebKitFrame* frame) {
    auto it = entries_.find(id);
    if (it != entries_.end()) {
        Release(it->second);
        entries_.erase(it);
    }
    Entry& e = entries_[id];
    e.context = JSC_CONTEXT(g_object_ref(context));
    e.function = JSC_VALUE(g_object_ref(function));
    g_weak_ref_init(&e.frame, frame);
}

bool PendingCallbackTable::Take(int id, Entry& out) {
    auto it = entries_.find(id);
    if (it == entries_.end()) return false;
    out.context = it->second.context;
    out.function = it->second.function;
    WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&it->second.frame));
    g_weak_ref_init(&out.frame, frame);
    if (frame) g_object_unref(frame);
    g_weak_ref_clear(&it->second.frame);
    entries_.erase(it);
    return true;
}

void PendingCallbackTable::DropStale(WebKitFrame* frame, JSCContext* current) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        WebKitFrame* f = static_cast<WebKitFrame*>(g_weak_ref_get(&it->second.frame));
        bool stale = !f || (f == frame && it->second.context != current);
        if (f) g_object_unref(f);
        if (stale) {
            Release(it->second);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

CCEF3V8Handler::CCEF3V8Handler(CefRefPtr<CCEF3APP> app, WebKitWebExtension* extension,
                               PendingCallbackTable* pending)
    : app_(std::move(app)), extension_(extension), pending_(pending) {}

JsCallKind CCEF3V8Handler::Classify(const std::string& name, JSCContext* context) const {
    if (name == "PostCPPTask") return JsCallKind::Asynchronous;
    if (name == "SendCPPTask") return JsCallKind::Synchronous;
    // The extensions call their natives as plain functions, so the receiver
    // is the global object: look for global[objectName][name].
    if (GlobalObjectHas(context, app_->SyncSlot().objectName, name)) return JsCallKind::Synchronous;
    if (GlobalObjectHas(context, app_->AsyncSlot().objectName, name)) return JsCallKind::Asynchronous;
    return JsCallKind::None;
}

JSCValue* CCEF3V8Handler::Execute(const std::string& name, JSCContext* context, GPtrArray* arguments,
                                  NativeCallSite& site) {
    switch (Classify(name, context)) {
        case JsCallKind::Synchronous:
            return ExecuteSynchronous(name, context, arguments, site.browserId);
        case JsCallKind::Asynchronous:
            ExecuteAsynchronous(name, context, arguments, site);
            return nullptr;
        case JsCallKind::None:
        default:
            return nullptr;
    }
}

JSCValue* CCEF3V8Handler::ExecuteSynchronous(const std::string& name, JSCContext* context, GPtrArray* arguments,
                                             int browserId) {
    CCEF3JSDelegateList& delegates = app_->SyncCallDelegates();
    if (delegates.empty()) return nullptr;
    ScopedVariants args;
    for (guint i = 0; arguments && i < arguments->len; ++i)
        args.get().push_back(JsToVariant(JSC_VALUE(g_ptr_array_index(arguments, i))));
    VARIANT result;
    VariantInit(&result);
    for (const auto& d : delegates.items())
        if (!d->InvokeSyncJsCall(browserId, name, args.get(), &result)) break;
    JSCValue* value = VariantToJs(context, result);
    VariantClear(&result);
    return value;
}

void CCEF3V8Handler::ExecuteAsynchronous(const std::string& name, JSCContext* context, GPtrArray* arguments,
                                         NativeCallSite& site) {
    WebKitWebPage* page = webkit_web_extension_get_page(extension_, static_cast<guint64>(site.browserId));
    if (!page) return;
    CefRefPtr<CefListValue> list = CefListValue::Create();
    guint n = arguments ? arguments->len : 0;
    if (n > 0) {
        // Converted before anything is kept or sent: a call beyond the
        // message limits stops here, in the page's own process.
        CallBudget budget;
        bool fits = budget.SpendEntries(1);  // the callback id
        for (guint i = 0; fits && i < n; ++i)
            fits = JsToListEntry(JSC_VALUE(g_ptr_array_index(arguments, i)), *list, i + 1, budget);
        if (!fits) {
            LogRefusedCall(name, site.origin);
            return;
        }
        JSCValue* first = JSC_VALUE(g_ptr_array_index(arguments, 0));
        if (jsc_value_is_function(first)) {
            WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&site.frame));
            pending_->Put(nextCallbackId_, context, first, frame);
            if (frame) g_object_unref(frame);
            list->SetInt(0, nextCallbackId_);
            ++nextCallbackId_;
        } else {
            list->SetInt(0, -1);
        }
    }
    MessageExtras extras;
    extras.origin = site.origin;
    GVariant* params = EncodeMessageParams(*list, extras);
    WebKitUserMessage* message = webkit_user_message_new(name.c_str(), params);
    g_variant_unref(params);
    webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

}  // namespace kxcef
