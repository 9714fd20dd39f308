// The render side of the bridge in every web process: the page extensions are
// set up in each frame's main world before the page's own scripts run, native
// calls go to their extension's handler, and the browser process's messages
// (callback replies, page commands) run page functions.
#include <webkit2/webkit-web-extension.h>

#include <cctype>
#include <memory>
#include <vector>

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "engine/engine_state.h"
#include "kxcef/render_extension.h"
#include "log.h"
#include "render/extension_code.h"
#include "render/js_values.h"
#include "render/v8_handler.h"

namespace kxcef {
namespace {

struct PageExtension {
    std::string name;
    std::string holder;
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
    CCEF3V8Handler* handler = nullptr;
    std::string name;
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

// Each frame's string helper for its current document, replaced with the
// document and gone with the frame.
const char kHelperKey[] = "kxcef-string-helper";

JSCValue* HelperOf(WebKitFrame* frame) {
    return frame ? static_cast<JSCValue*>(g_object_get_data(G_OBJECT(frame), kHelperKey)) : nullptr;
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

JSCValue* OnNativeCall(GPtrArray* arguments, gpointer data) {
    auto* binding = static_cast<NativeBinding*>(data);
    JSCContext* context = jsc_context_get_current();
    WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&binding->site.frame));
    JSCValue* result;
    {
        ScopedStringHelper helper(HelperOf(frame));
        result = binding->handler->Execute(binding->name, context, arguments, binding->site);
    }
    if (frame) g_object_unref(frame);
    return result ? result : jsc_value_new_undefined(context);
}

void FreeBinding(gpointer data) {
    auto* binding = static_cast<NativeBinding*>(data);
    g_weak_ref_clear(&binding->site.frame);
    delete binding;
}

void InstallExtensions(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    if (!g_render) return;
    if (webkit_frame_is_main_frame(frame)) RememberMainFrame(page, frame);
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    g_render->pending.DropStale(frame, context);
    g_object_set_data_full(G_OBJECT(frame), kHelperKey, InstallStringHelper(context), g_object_unref);
    JSCValue* global = jsc_context_get_global_object(context);
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    std::string origin = OriginOf(webkit_frame_get_uri(frame));
    for (const auto& ext : g_render->extensions) {
        if (jsc_value_object_has_property(global, ext->holder.c_str())) continue;
        JSCValue* holder = jsc_value_new_object(context, nullptr, nullptr);
        for (const std::string& name : ext->code.natives) {
            auto* binding = new NativeBinding();
            binding->handler = ext->handler.get();
            binding->name = name;
            binding->site.browserId = browserId;
            binding->site.origin = origin;
            g_weak_ref_init(&binding->site.frame, frame);
            JSCValue* fn = jsc_value_new_function_variadic(context, name.c_str(), G_CALLBACK(&OnNativeCall),
                                                           binding, &FreeBinding, JSC_TYPE_VALUE);
            jsc_value_object_define_property_data(holder, name.c_str(), static_cast<JSCValuePropertyFlags>(0), fn);
            g_object_unref(fn);
        }
        // Neither writable nor configurable: pages cannot swap the natives.
        jsc_value_object_define_property_data(global, ext->holder.c_str(), static_cast<JSCValuePropertyFlags>(0),
                                              holder);
        g_object_unref(holder);
        std::string uri = "kxcef-extension:///" + ext->name;
        JSCValue* r = jsc_context_evaluate_with_source_uri(context, ext->code.code.c_str(),
                                                            static_cast<gssize>(ext->code.code.size()), uri.c_str(), 1);
        if (r) g_object_unref(r);
        ClearException(context, ("extension " + ext->name).c_str());
    }
    g_object_unref(global);
    g_object_unref(context);
}

// Page function arguments appended by the page-call handler, then the call's
// result handed back to it.
void AppendPreparedArguments(JSCContext* context, int browserId, const std::string& message,
                             const std::string& function, GPtrArray* args) {
    CCEF3JSDelegateList& delegates = g_render->app->CommandArgumentDelegates();
    if (delegates.empty()) return;
    ScopedVariants extra;
    for (const auto& d : delegates.items())
        if (!d->InvokePrepareJsCommand(browserId, message, function, extra.get())) break;
    for (const VARIANT& v : extra.get()) {
        JSCValue* value = VariantToJs(context, v);
        g_ptr_array_add(args, value ? value : jsc_value_new_undefined(context));
    }
}

void ReportResult(JSCValue* result, int browserId, const std::string& message, const std::string& function) {
    CCEF3JSDelegateList& delegates = g_render->app->CommandResultDelegates();
    if (delegates.empty()) return;
    VARIANT v = result ? JsToVariant(result) : VARIANT{};
    if (!result) VariantInit(&v);
    for (const auto& d : delegates.items()) d->InvokeJsCommandResult(browserId, message, function, &v);
    VariantClear(&v);
}

std::string FunctionName(JSCValue* function) {
    JSCValue* name = jsc_value_object_get_property(function, "name");
    std::string out;
    if (jsc_value_is_string(name)) {
        gchar* text = jsc_value_to_string(name);
        out = text ? text : "";
        g_free(text);
    }
    g_object_unref(name);
    return out;
}

GPtrArray* ArgumentsFrom(JSCContext* context, const CefListValue& list) {
    GPtrArray* args = g_ptr_array_new_with_free_func(g_object_unref);
    for (size_t i = 1; i < list.GetSize(); ++i) g_ptr_array_add(args, ListEntryToJs(context, list, i));
    return args;
}

// Calls a page function with the list's entries (after the callback id) and
// what the browser side prepares, then reports the result. `invoke` makes the
// call itself and returns the result (a reference, or null).
template <class Invoke>
void CallWithBridge(JSCContext* context, int browserId, const std::string& name, JSCValue* function,
                    const CefListValue& list, Invoke invoke) {
    GPtrArray* args = ArgumentsFrom(context, list);
    std::string functionName = FunctionName(function);
    AppendPreparedArguments(context, browserId, name, functionName, args);
    JSCValue* result = invoke(args);
    ClearException(context, nullptr);
    ReportResult(result, browserId, name, functionName);
    if (result) g_object_unref(result);
    g_ptr_array_unref(args);
}

void RunPageCommand(WebKitWebPage* page, const std::string& name, const CefListValue& list) {
    WebKitFrame* main = MainFrameOf(page);
    if (!main) return;
    int browserId = static_cast<int>(webkit_web_page_get_id(page));
    JSCContext* context = webkit_frame_get_js_context(main);
    ScopedStringHelper helper(HelperOf(main));
    JSCValue* global = jsc_context_get_global_object(context);
    JSCValue* function = jsc_value_object_get_property(global, name.c_str());
    if (jsc_value_is_function(function)) {
        // A method call on the global object: `this` is the window, as for a
        // function the page calls itself.
        CallWithBridge(context, browserId, name, function, list, [&](GPtrArray* args) {
            return jsc_value_object_invoke_methodv(global, name.c_str(), args->len,
                                                   reinterpret_cast<JSCValue**>(args->pdata));
        });
    }
    ClearException(context, nullptr);
    g_object_unref(function);
    g_object_unref(global);
    g_object_unref(context);
    g_object_unref(main);
}

void RunCallbackReply(WebKitWebPage* page, const std::string& name, int id, const CefListValue& list) {
    PendingCallbackTable::Entry entry;
    if (!g_render->pending.Take(id, entry)) return;
    WebKitFrame* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&entry.frame));
    if (entry.context && entry.function && frame) {
        // The callback runs only while its document is still the frame's.
        JSCContext* current = webkit_frame_get_js_context(frame);
        if (current == entry.context) {
            ScopedStringHelper helper(HelperOf(frame));
            int browserId = static_cast<int>(webkit_web_page_get_id(page));
            CallWithBridge(entry.context, browserId, name, entry.function, list, [&](GPtrArray* args) {
                return jsc_value_function_callv(entry.function, args->len, reinterpret_cast<JSCValue**>(args->pdata));
            });
        }
        g_object_unref(current);
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
