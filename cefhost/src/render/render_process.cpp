// The render side of the bridge in every web process: the page extensions are
// set up in each frame's main world before the page's own scripts run, native
// calls go to their extension's handler, and the browser process's messages
// (callback replies, page commands) run page functions.
#include <webkit2/webkit-web-extension.h>

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "common/log_text.h"
#include "engine/handler_slots.h"
#include "kxcef/render_extension.h"
#include "log.h"
#include "render/documents.h"
#include "render/extension_code.h"
#include "render/frame_context.h"
#include "render/js_values.h"
#include "render/v8_handler.h"

namespace kxcef {
namespace {

struct PageExtension {
    std::string name;
    std::string holder;
    std::unique_ptr<JsString> holderString;  // `holder` for property lookups
    RewrittenExtension code;
    std::unique_ptr<CCEF3V8Handler> handler;
};

struct RenderProcess {
    WebKitWebExtension* extension = nullptr;
    CefRefPtr<CCEF3APP> app;
    PendingCallbackTable pending;
    DocumentRegistry documents;
    std::vector<std::unique_ptr<PageExtension>> extensions;
};

RenderProcess* g_render = nullptr;

struct NativeBinding {
    explicit NativeBinding(const std::string& name) : site(name) {}
    CCEF3V8Handler* handler = nullptr;
    NativeCallSite site;
};

std::string HolderName(const std::string& extension) {
    std::string out = "__KXCEF2_natives_";
    for (char c : extension) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '_') ? c : '_';
    return out;
}

void LogException(JSContextRef context, JSValueRef exception, const std::string& what) {
    if (!exception) return;
    LogWarning(kLogApp, what + ": " + JsStringUtf8(context, exception));
}

void ClearException(JSCContext* context, const char* what) {
    if (JSCException* e = jsc_context_get_exception(context)) {
        if (what) {
            gchar* report = jsc_exception_report(e);
            LogWarning(kLogApp, std::string(what) + ": " + (report ? report : ""));
            g_free(report);
        }
        jsc_context_clear_exception(context);
    }
}

JSValueRef OnNativeCall(JSContextRef context, JSObjectRef function, JSObjectRef /*receiver*/, size_t argc,
                        const JSValueRef argv[], JSValueRef* /*exception*/) {
    auto* binding = static_cast<NativeBinding*>(JSObjectGetPrivate(function));
    JSValueRef result = binding ? binding->handler->Execute(context, argc, argv, binding->site) : nullptr;
    return result ? result : JSValueMakeUndefined(context);
}

void FreeBinding(JSObjectRef function) {
    auto* binding = static_cast<NativeBinding*>(JSObjectGetPrivate(function));
    if (!binding) return;
    g_weak_ref_clear(&binding->site.frame);
    delete binding;
}

// The class of the native functions: callable objects that carry their binding.
JSClassRef NativeFunctionClass() {
    static JSClassRef cls = [] {
        JSClassDefinition definition = kJSClassDefinitionEmpty;
        definition.className = "Function";
        definition.callAsFunction = &OnNativeCall;
        definition.finalize = &FreeBinding;
        return JSClassCreate(&definition);
    }();
    return cls;
}

constexpr JSPropertyAttributes kFixed = kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontEnum |
                                        kJSPropertyAttributeDontDelete;

// Function.prototype of the document, as it is before any page script runs.
JSValueRef FunctionPrototype(JSContextRef context, JSObjectRef global) {
    static JsString* function = new JsString("Function");
    static JsString* prototype = new JsString("prototype");
    JSValueRef ctor = JSObjectGetProperty(context, global, function->get(), nullptr);
    if (!ctor || !JSValueIsObject(context, ctor)) return nullptr;
    return JSObjectGetProperty(context, JSValueToObject(context, ctor, nullptr), prototype->get(), nullptr);
}

// Sends one of the library's own reports about `document` to the browser process.
void Report(WebKitWebPage* page, const char* name, const DocumentRegistry::Document& document,
            const CefListValue& list) {
    MessageExtras extras;
    extras.origin = document.origin;
    extras.document = document.token;
    GVariant* params = EncodeMessageParams(list, extras);
    WebKitUserMessage* message = webkit_user_message_new(name, params);
    g_variant_unref(params);
    webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

// Tells the browser process which document a frame shows now: the main
// frame's, so that what native code sends the page goes to that document
// only; any frame's, so that it knows which origins are part of the page.
void ReportDocument(WebKitWebPage* page, WebKitFrame* frame, const DocumentRegistry::Document& document,
                    bool restored) {
    CefRefPtr<CefListValue> list = CefListValue::Create();
    if (webkit_frame_is_main_frame(frame)) {
        list->SetBool(0, restored);
        Report(page, kMainDocumentMessage, document, *list);
    } else {
        Report(page, kFrameDocumentMessage, document, *list);
    }
}

// What a document tells the browser process from inside, through listeners
// and wrappers set before any page script runs:
//   - every trusted user action (pointer or key; the listeners sit on the
//     window in the capturing phase, so the page cannot hide one), which the
//     browser process needs before it has the desktop open an address;
//   - each address the document asks to open right after such an action,
//     through window.open or a link it activates: the engine's requests do not
//     say which document made them, so this names the document that asked;
//   - its return from the engine's page cache, which brings back its context
//     without clearing the window: it is the frame's document again.
struct DocumentWatch {
    guint64 pageId;
    DocumentRegistry::Document document;
    GWeakRef frame;  // WebKitFrame
    gint64 lastSent = 0;
    gint64 lastAction = 0;
    int intentsSinceAction = 0;
};

// An action counts for what it sets off right away (the browser process keeps
// to the same window); a handful of addresses per action is plenty.
constexpr gint64 kIntentWindowUs = 2 * G_USEC_PER_SEC;
constexpr int kMaxIntentsPerAction = 8;
constexpr size_t kMaxIntentBytes = 64 * 1024;

enum class WatchEvent { Action = 0, Intent = 1, Restored = 2 };

JSCValue* OnDocumentEvent(GPtrArray* args, gpointer data) {
    auto* w = static_cast<DocumentWatch*>(data);
    JSCContext* context = jsc_context_get_current();
    WebKitWebPage* page = webkit_web_extension_get_page(g_render->extension, w->pageId);
    int kind = args->len > 0 ? jsc_value_to_int32(static_cast<JSCValue*>(g_ptr_array_index(args, 0))) : -1;
    gint64 now = g_get_monotonic_time();
    if (page && kind == static_cast<int>(WatchEvent::Action)) {
        w->lastAction = now;
        w->intentsSinceAction = 0;
        // A pointer press or a key is a new action, which the browser process
        // must hear even when the last one was used a moment ago; the mouse
        // and touch events that follow a pointer press are the same action.
        constexpr gint64 kQuietUs = 100 * 1000;
        bool starts = args->len > 1 && jsc_value_to_boolean(static_cast<JSCValue*>(g_ptr_array_index(args, 1)));
        if (starts || now - w->lastSent >= kQuietUs) {
            w->lastSent = now;
            Report(page, kUserActionMessage, w->document, *CefListValue::Create());
        }
    } else if (page && kind == static_cast<int>(WatchEvent::Intent) && args->len > 1) {
        // Only what follows the document's own action can be granted.
        if (w->lastAction && now - w->lastAction <= kIntentWindowUs && w->intentsSinceAction < kMaxIntentsPerAction) {
            gchar* url = jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(args, 1)));
            if (url && std::strlen(url) <= kMaxIntentBytes) {
                ++w->intentsSinceAction;
                CefRefPtr<CefListValue> list = CefListValue::Create();
                list->SetStringUtf8(0, url);
                Report(page, kLaunchIntentMessage, w->document, *list);
            }
            g_free(url);
        }
    } else if (page && kind == static_cast<int>(WatchEvent::Restored)) {
        auto* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&w->frame));
        if (frame) {
            JSCContext* current = webkit_frame_get_js_context(frame);
            g_render->documents.Restore(frame, current, w->document);
            ReportDocument(page, frame, w->document, true);
            g_object_unref(current);
            g_object_unref(frame);
        }
    }
    jsc_context_clear_exception(context);
    return jsc_value_new_undefined(context);
}

void WatchDocument(JSCContext* context, WebKitWebPage* page, WebKitFrame* frame,
                   const DocumentRegistry::Document& document) {
    static const char kWatch[] =
        "(function(report){var o={capture:true,passive:true};"
        "var h=function(e){if(e.isTrusted)report(0,e.type==='pointerdown'||e.type==='keydown');};"
        "['pointerdown','mousedown','keydown','touchstart'].forEach(function(t){addEventListener(t,h,o);});"
        "addEventListener('pageshow',function(e){if(e.persisted)report(2);},o);"
        "var U=URL,apply=Reflect.apply,original=window.open,d=document;"
        "var at=function(u){try{return new U(String(u),d.baseURI).href;}catch(x){return '';}};"
        "window.open=function open(u){if(u!==undefined&&u!==null&&u!==''){var a=at(u);if(a)report(1,a);}"
        "return apply(original,this,arguments);};"
        "var link=function(e){var p=e.composedPath();for(var i=0;i<p.length;i++){var n=p[i];"
        "if(n&&(n.localName==='a'||n.localName==='area')&&typeof n.href==='string'&&n.href){report(1,n.href);return;}}};"
        "addEventListener('click',link,o);addEventListener('auxclick',link,o);})";
    auto* watch = new DocumentWatch{webkit_web_page_get_id(page), document, {}};
    g_weak_ref_init(&watch->frame, frame);
    JSCValue* report = jsc_value_new_function_variadic(context, nullptr, G_CALLBACK(&OnDocumentEvent), watch,
                                                       [](gpointer p) {
                                                           auto* w = static_cast<DocumentWatch*>(p);
                                                           g_weak_ref_clear(&w->frame);
                                                           delete w;
                                                       },
                                                       JSC_TYPE_VALUE);
    JSCValue* install = jsc_context_evaluate_with_source_uri(context, kWatch, -1, "kxcef-extension:///document", 1);
    if (install && jsc_value_is_function(install)) {
        JSCValue* r = jsc_value_function_call(install, JSC_TYPE_VALUE, report, G_TYPE_NONE);
        if (r) g_object_unref(r);
    }
    if (install) g_object_unref(install);
    g_object_unref(report);
    ClearException(context, "document watch");
}

void InstallExtensions(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    if (!g_render) return;
    JSGlobalContextRef context = FrameContext(frame, world);
    if (!context) return;
    g_render->pending.DropStale(frame, context);
    // The document's own origin, not its address's: a sandboxed document of the
    // front-end's address is opaque ("null"), an about:blank, srcdoc or blob:
    // document has the origin it inherited. Read once per document, so the
    // GLib wrappers here cost nothing per call.
    JSCContext* documentContext = webkit_frame_get_js_context_for_script_world(frame, world);
    bool fresh = false;
    const DocumentRegistry::Document& document = g_render->documents.Enter(frame, documentContext, &fresh);
    if (fresh || webkit_frame_is_main_frame(frame)) ReportDocument(page, frame, document, false);
    if (fresh) WatchDocument(documentContext, page, frame, document);
    g_object_unref(documentContext);
    JSObjectRef global = JSContextGetGlobalObject(context);
    JSValueRef functionPrototype = FunctionPrototype(context, global);
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    for (const auto& ext : g_render->extensions) {
        if (JSObjectHasProperty(context, global, ext->holderString->get())) continue;
        JSObjectRef holder = JSObjectMake(context, nullptr, nullptr);
        for (const std::string& name : ext->code.natives) {
            auto* binding = new NativeBinding(name);
            binding->handler = ext->handler.get();
            binding->site.browserId = browserId;
            binding->site.origin = document.origin;
            binding->site.document = document.token;
            g_weak_ref_init(&binding->site.frame, frame);
            JSObjectRef fn = JSObjectMake(context, NativeFunctionClass(), binding);
            // A function to the page in every respect (call, apply, bind).
            if (functionPrototype) JSObjectSetPrototype(context, fn, functionPrototype);
            JSObjectSetProperty(context, holder, binding->site.nameString.get(), fn, kFixed, nullptr);
        }
        // Neither writable nor configurable: pages cannot swap the natives.
        JSObjectSetProperty(context, global, ext->holderString->get(), holder, kFixed, nullptr);
        JsString code(ext->code.code);
        JsString uri("kxcef-extension:///" + ext->name);
        JSValueRef exception = nullptr;
        JSEvaluateScript(context, code.get(), nullptr, uri.get(), 1, &exception);
        LogException(context, exception, "extension " + ext->name);
    }
}

// Page function arguments appended by the page-call handler, then the call's
// result handed back to it.
void AppendPreparedArguments(JSContextRef context, int browserId, const std::string& message,
                             const std::string& function, JsArguments& args) {
    CCEF3JSDelegateList& delegates = g_render->app->CommandArgumentDelegates();
    if (delegates.empty()) return;
    ScopedVariants extra;
    for (const auto& d : delegates.items())
        if (!d->InvokePrepareJsCommand(browserId, message, function, extra.get())) break;
    for (const VARIANT& v : extra.get()) {
        JSValueRef value = VariantToJs(context, v);
        args.Add(context, value ? value : JSValueMakeUndefined(context));
    }
}

void ReportResult(JSContextRef context, JSValueRef result, int browserId, const std::string& message,
                  const std::string& function) {
    CCEF3JSDelegateList& delegates = g_render->app->CommandResultDelegates();
    if (delegates.empty()) return;
    VARIANT v;
    if (result) v = JsToVariant(context, result);
    else VariantInit(&v);
    for (const auto& d : delegates.items()) d->InvokeJsCommandResult(browserId, message, function, &v);
    VariantClear(&v);
}

std::string FunctionName(JSContextRef context, JSObjectRef function) {
    static JsString* name = new JsString("name");
    JSValueRef value = JSObjectGetProperty(context, function, name->get(), nullptr);
    return value && JSValueIsString(context, value) ? JsStringUtf8(context, value) : std::string();
}

// Calls a page function with the list's entries (after the callback id) and
// what the browser side prepares, then reports the result. `receiver` is the
// call's `this` (null: none).
void CallWithBridge(JSContextRef context, int browserId, const std::string& name, JSObjectRef function,
                    JSObjectRef receiver, const CefListValue& list) {
    JsArguments args;
    for (size_t i = 1; i < list.GetSize(); ++i) args.Add(context, ListEntryToJs(context, list, i));
    std::string functionName = FunctionName(context, function);
    AppendPreparedArguments(context, browserId, name, functionName, args);
    JSValueRef exception = nullptr;
    JSValueRef result = JSObjectCallAsFunction(context, function, receiver, args.size(), args.data(), &exception);
    ReportResult(context, exception ? nullptr : result, browserId, name, functionName);
}

// The names of the page functions the browser process calls, made once each.
JSStringRef FunctionNameString(const std::string& name) {
    static auto* names = new std::map<std::string, std::unique_ptr<JsString>>();
    auto it = names->find(name);
    if (it != names->end()) return it->second->get();
    if (names->size() >= 64) names->clear();  // a handful in practice
    return names->emplace(name, std::make_unique<JsString>(name)).first->second->get();
}

// A page command runs in the document it is addressed to, and only while the
// frame still shows that document.
void RunPageCommand(WebKitWebPage* page, const std::string& name, const CefListValue& list, std::uint64_t document) {
    WebKitFrame* frame = g_render->documents.Find(document);
    if (!frame) {
        // A reply that comes after its document has gone (the frame shows
        // another page by now) is for nobody else.
        static RefusalLogBudget budget;
        RefusalLogBudget::Line line = budget.Take();
        if (line.write)
            LogWarning(kLogApp, "page command " + PageTextForLog(name, 64) +
                                    " dropped: the document it is for is no longer shown" +
                                    RefusalLogBudget::SkippedNote(line.skipped));
        return;
    }
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    if (JSGlobalContextRef context = FrameContext(frame)) {
        JSObjectRef global = JSContextGetGlobalObject(context);
        JSValueRef value = JSObjectGetProperty(context, global, FunctionNameString(name), nullptr);
        JSObjectRef function = value && JSValueIsObject(context, value) ? JSValueToObject(context, value, nullptr)
                                                                       : nullptr;
        // A method call on the global object: `this` is the window, as for a
        // function the page calls itself.
        if (function && JSObjectIsFunction(context, function))
            CallWithBridge(context, browserId, name, function, global, list);
    }
    g_object_unref(frame);
}

void RunCallbackReply(WebKitWebPage* page, const std::string& name, int id, const CefListValue& list) {
    PendingCallbackTable::Entry entry;
    if (!g_render->pending.Take(id, entry)) return;
    WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&entry.frame));
    // The callback runs only while its document is still the frame's.
    if (entry.context && entry.function && frame && FrameContext(frame) == entry.context) {
        int browserId = static_cast<int>(webkit_web_page_get_id(page));
        CallWithBridge(entry.context, browserId, name, entry.function, nullptr, list);
    }
    if (frame) g_object_unref(frame);
    PendingCallbackTable::Release(entry);
}

gboolean OnPageMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
    if (!g_render) return FALSE;
    CefRefPtr<CefListValue> list = CefListValue::Create();
    MessageExtras extras;
    GVariant* params = webkit_user_message_get_parameters(message);
    if (!params || !g_variant_is_of_type(params, G_VARIANT_TYPE_BYTESTRING)) return FALSE;  // not the bridge's
    if (!DecodeMessageParams(params, *list, &extras, kToPageLimits)) {
        LogWarning(kLogApp, std::string("page command ") + PageTextForLog(webkit_user_message_get_name(message), 64) +
                                " dropped: malformed or over the bound for what the client sends a page");
        return FALSE;
    }
    if (list->GetSize() == 0 || list->GetType(0) != VTYPE_INT) return TRUE;
    std::string name = webkit_user_message_get_name(message);
    int id = list->GetInt(0);
    if (id == -1) RunPageCommand(page, name, *list, extras.document);
    else if (id >= 0) RunCallbackReply(page, name, id, *list);
    return TRUE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "user-message-received", G_CALLBACK(&OnPageMessage), nullptr);
}

void AddExtension(const std::string& name, const std::string& code) {
    auto ext = std::make_unique<PageExtension>();
    ext->name = name;
    ext->holder = HolderName(name);
    ext->holderString.reset(new JsString(ext->holder));
    ext->code = RewriteNativeDeclarations(code, ext->holder);
    ext->handler.reset(new CCEF3V8Handler(g_render->app, g_render->extension, &g_render->pending));
    g_render->extensions.push_back(std::move(ext));
}

}  // namespace
}  // namespace kxcef

extern "C" KXCEF2_API void KXCEF2_RenderProcessMain(void* webExtension, const void* /*initializationData*/,
                                                     void (*install)()) {
    using namespace kxcef;
    if (g_render || !webExtension) return;
    if (install) install();
    CefRefPtr<CCEF3APP> app = CurrentApp();
    if (!app) {
        CCEF3Manager::SetProcessHandler(nullptr);  // creates the process's instance
        app = CurrentApp();
    }
    if (!app) return;
    g_render = new RenderProcess();
    g_render->extension = WEBKIT_WEB_EXTENSION(webExtension);
    g_render->app = app;

    app->OnWebKitInitialized();
    AddExtension(kWebAppExtensionName, kWebAppExtensionCode);
    if (app->SyncSlot().IsSet()) AddExtension(app->SyncSlot().objectName, app->SyncSlot().code);
    if (app->AsyncSlot().IsSet()) AddExtension(app->AsyncSlot().objectName, app->AsyncSlot().code);

    g_signal_connect(g_render->extension, "page-created", G_CALLBACK(&OnPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(&InstallExtensions),
                     nullptr);
}
