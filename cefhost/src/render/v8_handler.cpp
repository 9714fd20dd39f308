#include "render/v8_handler.h"

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "common/log_text.h"
#include "log.h"

namespace kxcef {
namespace {

// True when global[objectName] is an object with a property `functionName`.
bool GlobalObjectHas(JSContextRef context, JSStringRef objectName, JSStringRef functionName) {
    if (!objectName) return false;
    JSValueRef exception = nullptr;
    JSValueRef object = JSObjectGetProperty(context, JSContextGetGlobalObject(context), objectName, &exception);
    if (exception || !object || !JSValueIsObject(context, object)) return false;
    JSObjectRef o = JSValueToObject(context, object, nullptr);
    return o && JSObjectHasProperty(context, o, functionName);
}

// One line per call refused for its size; a page may call in a loop, so the
// lines are rationed (web process main thread).
void LogRefusedCall(const std::string& name, const std::string& origin) {
    static RefusalLogBudget budget;
    RefusalLogBudget::Line line = budget.Take();
    if (!line.write) return;
    LogWarning(kLogApp, "page call " + name + " from origin " + (origin.empty() ? "(unknown)" : origin) +
                            " refused: more than " + std::to_string(kMaxMessageEntries) + " values or " +
                            std::to_string(kMaxMessageTextBytes) + " bytes of text" +
                            RefusalLogBudget::SkippedNote(line.skipped));
}

}  // namespace

PendingCallbackTable::~PendingCallbackTable() {
    for (auto& e : entries_) Release(e.second);
}

void PendingCallbackTable::Release(Entry& entry) {
    if (entry.context) {
        if (entry.function) JSValueUnprotect(entry.context, entry.function);
        JSGlobalContextRelease(entry.context);
    }
    g_weak_ref_clear(&entry.frame);
    entry.function = nullptr;
    entry.context = nullptr;
}

void PendingCallbackTable::Put(int id, JSGlobalContextRef context, JSObjectRef function, WebKitFrame* frame) {
    auto it = entries_.find(id);
    if (it != entries_.end()) {
        Release(it->second);
        entries_.erase(it);
    }
    Entry& e = entries_[id];
    e.context = JSGlobalContextRetain(context);
    e.function = function;
    JSValueProtect(context, function);
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

void PendingCallbackTable::DropStale(WebKitFrame* frame, JSGlobalContextRef current) {
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

JSStringRef CCEF3V8Handler::SlotName::For(const std::string& objectName) {
    if (objectName.empty()) return nullptr;
    if (!string || text != objectName) {
        text = objectName;
        string.reset(new JsString(objectName));
    }
    return string->get();
}

CCEF3V8Handler::CCEF3V8Handler(CefRefPtr<CCEF3APP> app, WebKitWebExtension* extension,
                               PendingCallbackTable* pending)
    : app_(std::move(app)), extension_(extension), pending_(pending) {}

JsCallKind CCEF3V8Handler::Classify(JSContextRef context, const NativeCallSite& site) const {
    if (site.name == "PostCPPTask") return JsCallKind::Asynchronous;
    if (site.name == "SendCPPTask") return JsCallKind::Synchronous;
    // The extensions call their natives as plain functions, so the receiver
    // is the global object: look for global[objectName][name].
    if (GlobalObjectHas(context, syncObject_.For(app_->SyncSlot().objectName), site.nameString.get()))
        return JsCallKind::Synchronous;
    if (GlobalObjectHas(context, asyncObject_.For(app_->AsyncSlot().objectName), site.nameString.get()))
        return JsCallKind::Asynchronous;
    return JsCallKind::None;
}

JSValueRef CCEF3V8Handler::Execute(JSContextRef context, size_t argc, const JSValueRef argv[],
                                   NativeCallSite& site) {
    switch (Classify(context, site)) {
        case JsCallKind::Synchronous:
            return ExecuteSynchronous(context, argc, argv, site);
        case JsCallKind::Asynchronous:
            ExecuteAsynchronous(context, argc, argv, site);
            return nullptr;
        case JsCallKind::None:
        default:
            return nullptr;
    }
}

JSValueRef CCEF3V8Handler::ExecuteSynchronous(JSContextRef context, size_t argc, const JSValueRef argv[],
                                              NativeCallSite& site) {
    CCEF3JSDelegateList& delegates = app_->SyncCallDelegates();
    if (delegates.empty()) return nullptr;
    ScopedVariants args;
    args.get().reserve(argc);
    for (size_t i = 0; i < argc; ++i) args.get().push_back(JsToVariant(context, argv[i]));
    VARIANT result;
    VariantInit(&result);
    for (const auto& d : delegates.items())
        if (!d->InvokeSyncJsCall(site.browserId, site.name, args.get(), &result)) break;
    JSValueRef value = VariantToJs(context, result);
    VariantClear(&result);
    return value;
}

void CCEF3V8Handler::ExecuteAsynchronous(JSContextRef context, size_t argc, const JSValueRef argv[],
                                         NativeCallSite& site) {
    WebKitWebPage* page = webkit_web_extension_get_page(extension_, static_cast<guint64>(site.browserId));
    if (!page) return;
    CefRefPtr<CefListValue> list = CefListValue::Create();
    if (argc > 0) {
        // Converted before anything is kept or sent: a call beyond the
        // message limits stops here, in the page's own process.
        CallBudget budget;
        bool fits = budget.SpendEntries(1);  // the callback id
        for (size_t i = 0; fits && i < argc; ++i) fits = JsToListEntry(context, argv[i], *list, i + 1, budget);
        if (!fits) {
            LogRefusedCall(site.name, site.origin);
            return;
        }
        JSObjectRef first = JSValueIsObject(context, argv[0]) ? JSValueToObject(context, argv[0], nullptr) : nullptr;
        if (first && JSObjectIsFunction(context, first)) {
            WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&site.frame));
            pending_->Put(nextCallbackId_, JSContextGetGlobalContext(context), first, frame);
            if (frame) g_object_unref(frame);
            list->SetInt(0, nextCallbackId_);
            ++nextCallbackId_;
        } else {
            list->SetInt(0, -1);
        }
    }
    MessageExtras extras;
    extras.origin = site.origin;
    extras.document = site.document;
    GVariant* params = EncodeMessageParams(*list, extras);
    WebKitUserMessage* message = webkit_user_message_new(site.name.c_str(), params);
    g_variant_unref(params);
    webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

}  // namespace kxcef
