// The render side of the bridge in every web process: the page extensions are
// set up in each frame's main world before the page's own scripts run, native
// calls go to their extension's handler, and the browser process's messages
// (callback replies, page commands) run page functions.
#include <webkit2/webkit-web-extension.h>

#include <cctype>
#include <map>
#include <memory>
#include <vector>

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "engine/engine_state.h"
#include "kxcef/render_extension.h"
#include "log.h"
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

// "scheme://host[:port]", or "null" for addresses without a host.
std::string OriginOf(const char* uri) {
    if (!uri || !*uri) return {};
    GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
    if (!parsed) return "null";
    std::string out = "null";
    const char* scheme = g_uri_get_scheme(parsed);
    const char* host = g_uri_get_host(parsed);
    if (scheme && host && *host) {
        // IPv6 literals come back without the brackets their address needs.
        bool ipv6 = std::string(host).find(':') != std::string::npos;
        out = std::string(scheme) + "://" + (ipv6 ? "[" : "") + host + (ipv6 ? "]" : "");
        if (g_uri_get_port(parsed) > 0) out += ":" + std::to_string(g_uri_get_port(parsed));
    }
    g_uri_unref(parsed);
    return out;
}

// The main frame of each page, remembered when its document is set up.
const char kMainFrameKey[] = "kxcef-main-frame";

void RememberMainFrame(WebKitWebPage* page, WebKitFrame* frame) {
    auto* ref = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(page), kMainFrameKey));
    if (!ref) {
        ref = g_new0(GWeakRef, 1);
        g_weak_ref_init(ref, frame);
        g_object_set_data_full(G_OBJECT(page), kMainFrameKey, ref, [](gpointer p) {
            g_weak_ref_clear(static_cast<GWeakRef*>(p));
            g_free(p);
        });
    } else {
        g_weak_ref_set(ref, frame);
    }
}

// A new reference, or null.
WebKitFrame* MainFrameOf(WebKitWebPage* page) {
    auto* ref = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(page), kMainFrameKey));
    return ref ? static_cast<WebKitFrame*>(g_weak_ref_get(ref)) : nullptr;
}

void LogException(JSContextRef context, JSValueRef exception, const std::string& what) {
    if (!exception) return;
    LogWarning(kLogApp, what + ": " + JsStringUtf8(context, exception));
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

void InstallExtensions(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    if (!g_render) return;
    if (webkit_frame_is_main_frame(frame)) RememberMainFrame(page, frame);
    JSGlobalContextRef context = FrameContext(frame, world);
    if (!context) return;
    g_render->pending.DropStale(frame, context);
    JSObjectRef global = JSContextGetGlobalObject(context);
    JSValueRef functionPrototype = FunctionPrototype(context, global);
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    std::string origin = OriginOf(webkit_frame_get_uri(frame));
    for (const auto& ext : g_render->extensions) {
        if (JSObjectHasProperty(context, global, ext->holderString->get())) continue;
        JSObjectRef holder = JSObjectMake(context, nullptr, nullptr);
        for (const std::string& name : ext->code.natives) {
            auto* binding = new NativeBinding(name);
            binding->handler = ext->handler.get();
            binding->site.browserId = browserId;
            binding->site.origin = origin;
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

void RunPageCommand(WebKitWebPage* page, const std::string& name, const CefListValue& list) {
    WebKitFrame* main = MainFrameOf(page);
    if (!main) return;
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    if (JSGlobalContextRef context = FrameContext(main)) {
        JSObjectRef global = JSContextGetGlobalObject(context);
        JSValueRef value = JSObjectGetProperty(context, global, FunctionNameString(name), nullptr);
        JSObjectRef function = value && JSValueIsObject(context, value) ? JSValueToObject(context, value, nullptr)
                                                                       : nullptr;
        // A method call on the global object: `this` is the window, as for a
        // function the page calls itself.
        if (function && JSObjectIsFunction(context, function))
            CallWithBridge(context, browserId, name, function, global, list);
    }
    g_object_unref(main);
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
    if (!DecodeMessageParams(webkit_user_message_get_parameters(message), *list, nullptr)) return FALSE;
    if (list->GetSize() == 0 || list->GetType(0) != VTYPE_INT) return TRUE;
    std::string name = webkit_user_message_get_name(message);
    int id = list->GetInt(0);
    if (id == -1) RunPageCommand(page, name, *list);
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
