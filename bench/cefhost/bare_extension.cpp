// The bare comparison's web-process extension: a page function that sends a
// user message to the view, a synchronous page function that does nothing,
// and a handler that runs the page's JsHandleCallBack for each reply.
#include <webkit2/webkit-web-extension.h>

namespace {

WebKitWebExtension* g_extension = nullptr;

JSCValue* Call(GPtrArray* args, gpointer data) {
    JSCContext* context = jsc_context_get_current();
    guint64 pageId = GPOINTER_TO_SIZE(data);
    WebKitWebPage* page = webkit_web_extension_get_page(g_extension, pageId);
    if (page && args->len >= 2) {
        char* name = jsc_value_to_string(JSC_VALUE(g_ptr_array_index(args, 0)));
        char* text = jsc_value_to_string(JSC_VALUE(g_ptr_array_index(args, 1)));
        WebKitUserMessage* m = webkit_user_message_new(name, g_variant_new_string(text));
        webkit_web_page_send_message_to_view(page, m, nullptr, nullptr, nullptr);
        g_free(name);
        g_free(text);
    }
    return jsc_value_new_undefined(context);
}

JSCValue* Sync(GPtrArray*, gpointer) { return jsc_value_new_undefined(jsc_context_get_current()); }

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    gpointer id = GSIZE_TO_POINTER(webkit_web_page_get_id(page));
    JSCValue* call = jsc_value_new_function_variadic(context, "bareCall", G_CALLBACK(&Call), id, nullptr,
                                                     JSC_TYPE_VALUE);
    JSCValue* sync = jsc_value_new_function_variadic(context, "bareSync", G_CALLBACK(&Sync), nullptr, nullptr,
                                                     JSC_TYPE_VALUE);
    jsc_context_set_value(context, "bareCall", call);
    jsc_context_set_value(context, "bareSync", sync);
    g_object_unref(call);
    g_object_unref(sync);
    if (webkit_frame_is_main_frame(frame))
        g_object_set_data_full(G_OBJECT(page), "main-context", g_object_ref(context), g_object_unref);
    g_object_unref(context);
}

gboolean OnMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
    auto* context = static_cast<JSCContext*>(g_object_get_data(G_OBJECT(page), "main-context"));
    if (!context) return TRUE;
    GVariant* p = webkit_user_message_get_parameters(message);
    const char* text = p && g_variant_is_of_type(p, G_VARIANT_TYPE_STRING) ? g_variant_get_string(p, nullptr) : "";
    JSCValue* global = jsc_context_get_global_object(context);
    JSCValue* r = jsc_value_object_invoke_method(global, "JsHandleCallBack", G_TYPE_STRING, text, G_TYPE_NONE);
    if (r) g_object_unref(r);
    g_object_unref(global);
    return TRUE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "user-message-received", G_CALLBACK(&OnMessage), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
    g_extension = extension;
    g_signal_connect(extension, "page-created", G_CALLBACK(&OnPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(&OnWindowObjectCleared), nullptr);
}
