#include "render/js_values.h"

#include <cmath>

#include "platform/text.h"
#include "bridge/wire_format.h"

namespace kxcef {
namespace {

std::string JsStringBytes(JSCValue* value);  // below, next to the string helper

JSCValue* NewJsString(JSCContext* context, const std::string& utf8) {
    GBytes* bytes = g_bytes_new(utf8.data(), utf8.size());
    JSCValue* v = jsc_value_new_string_from_bytes(context, bytes);
    g_bytes_unref(bytes);
    return v;
}

bool IsInt32(double d) {
    if (!std::isfinite(d) || d < -2147483648.0 || d > 2147483647.0) return false;
    if (d == 0 && std::signbit(d)) return false;
    return std::floor(d) == d;
}

bool ArrayToList(JSCValue* array, CefListValue& list, int depth, CallBudget& budget);

bool EntryAt(JSCValue* value, CefListValue& list, size_t index, int depth, CallBudget& budget) {
    if (!budget.SpendEntries(1)) return false;
    if (jsc_value_is_array(value)) {
        if (depth >= kMaxListDepth) return true;
        CefRefPtr<CefListValue> child = CefListValue::Create();
        if (!ArrayToList(value, *child, depth + 1, budget)) return false;
        list.SetList(index, child);
    } else if (jsc_value_is_string(value)) {
        std::string bytes = JsStringBytes(value);
        if (!budget.SpendText(bytes.size())) return false;
        list.SetStringUtf8(index, bytes);
    } else if (jsc_value_is_boolean(value)) {
        list.SetBool(index, jsc_value_to_boolean(value));
    } else if (jsc_value_is_number(value)) {
        double d = jsc_value_to_double(value);
        if (IsInt32(d)) list.SetInt(index, static_cast<int>(d));
        else list.SetDouble(index, d);
    }
    return true;
}

bool ArrayToList(JSCValue* array, CefListValue& list, int depth, CallBudget& budget) {
    JSCValue* lengthValue = jsc_value_object_get_property(array, "length");
    double length = jsc_value_is_number(lengthValue) ? jsc_value_to_double(lengthValue) : 0;
    g_object_unref(lengthValue);
    if (!(length > 0)) return true;
    // Refused before a single element is read: a huge array costs nothing.
    if (length > static_cast<double>(budget.entries)) return budget.Exceed();
    unsigned n = static_cast<unsigned>(length);
    for (unsigned i = 0; i < n; ++i) {
        JSCValue* element = jsc_value_object_get_property_at_index(array, i);
        bool ok = EntryAt(element, list, i, depth, budget);
        g_object_unref(element);
        if (!ok) return false;
    }
    return true;
}

JSCValue* EntryToJs(JSCContext* context, const CefListValue& list, size_t index, int depth) {
    switch (list.GetType(index)) {
        case VTYPE_BOOL:
            return jsc_value_new_boolean(context, list.GetBool(index));
        case VTYPE_INT:
            return jsc_value_new_number(context, list.GetInt(index));
        case VTYPE_DOUBLE:
            return jsc_value_new_number(context, list.GetDouble(index));
        case VTYPE_STRING:
            return NewJsString(context, list.GetStringUtf8(index));
        case VTYPE_LIST: {
            CefRefPtr<CefListValue> child = list.GetList(index);
            if (!child || depth >= kMaxListDepth) return jsc_value_new_null(context);
            GPtrArray* items = g_ptr_array_new_with_free_func(g_object_unref);
            for (size_t i = 0; i < child->GetSize(); ++i)
                g_ptr_array_add(items, EntryToJs(context, *child, i, depth + 1));
            JSCValue* array = jsc_value_new_array_from_garray(context, items);
            g_ptr_array_unref(items);
            return array;
        }
        default:
            return jsc_value_new_null(context);
    }
}

}  // namespace

namespace {
const char kStringHelper[] = "__KXCEF2_wellFormed";
thread_local JSCValue* t_helper = nullptr;
}

ScopedStringHelper::ScopedStringHelper(JSCValue* helper) : previous_(t_helper) { t_helper = helper; }
ScopedStringHelper::~ScopedStringHelper() { t_helper = previous_; }

JSCValue* InstallStringHelper(JSCContext* context) {
    JSCValue* global = jsc_context_get_global_object(context);
    if (!jsc_value_object_has_property(global, kStringHelper)) {
        JSCValue* helper = jsc_context_evaluate(
            context,
            "(function(w,a){return typeof w==='function'?function(s){return a(w,s,[]);}:null;})"
            "(String.prototype.toWellFormed, Reflect.apply)",
            -1);
        if (helper && jsc_value_is_function(helper))
            jsc_value_object_define_property_data(global, kStringHelper, static_cast<JSCValuePropertyFlags>(0),
                                                  helper);
        if (helper) g_object_unref(helper);
        jsc_context_clear_exception(context);
    }
    JSCValue* helper = jsc_value_object_get_property(global, kStringHelper);
    g_object_unref(global);
    if (!jsc_value_is_function(helper)) {
        g_object_unref(helper);
        return nullptr;
    }
    return helper;
}

namespace {

// The helper's answer when it is a string, else null.
JSCValue* CallHelper(JSCValue* helper, JSCValue* value) {
    JSCValue* result = jsc_value_function_call(helper, JSC_TYPE_VALUE, value, G_TYPE_NONE);
    if (result && !jsc_value_is_string(result)) {
        g_object_unref(result);
        result = nullptr;
    }
    return result;
}

// The string's UTF-8 bytes as the engine gives them; callers repair them once
// on their way into a list entry or a wide text.
std::string JsStringBytes(JSCValue* value) {
    // The engine's UTF-8 conversion stops at an unpaired surrogate: make the
    // text well-formed first.
    JSCValue* wellFormed = nullptr;
    if (t_helper) {
        wellFormed = CallHelper(t_helper, value);
    } else if (JSCContext* context = jsc_value_get_context(value)) {
        JSCValue* global = jsc_context_get_global_object(context);
        JSCValue* helper = jsc_value_object_get_property(global, kStringHelper);
        if (jsc_value_is_function(helper)) wellFormed = CallHelper(helper, value);
        g_object_unref(helper);
        g_object_unref(global);
    }
    GBytes* bytes = jsc_value_to_string_as_bytes(wellFormed ? wellFormed : value);
    if (wellFormed) g_object_unref(wellFormed);
    if (!bytes) return {};
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string out = data ? std::string(data, size) : std::string();
    g_bytes_unref(bytes);
    return out;
}

}  // namespace

std::string JsStringUtf8(JSCValue* value) {
    std::string bytes = JsStringBytes(value);
    return platform::SanitizeUtf8(bytes.data(), bytes.size());
}

bool CallBudget::SpendEntries(size_t n) {
    if (exceeded || n > entries) return Exceed();
    entries -= n;
    return true;
}

bool CallBudget::SpendText(size_t n) {
    if (exceeded || n > textBytes) return Exceed();
    textBytes -= n;
    return true;
}

bool JsToListEntry(JSCValue* value, CefListValue& list, size_t index, CallBudget& budget) {
    return EntryAt(value, list, index, 0, budget);
}

JSCValue* ListEntryToJs(JSCContext* context, const CefListValue& list, size_t index) {
    return EntryToJs(context, list, index, 0);
}

VARIANT JsToVariant(JSCValue* value) {
    VARIANT v;
    VariantInit(&v);
    if (jsc_value_is_string(value)) {
        v = platform::MakeBstrVariant(platform::Utf8ToWideLenient(JsStringBytes(value)));
    } else if (jsc_value_is_boolean(value)) {
        v.vt = VT_BOOL;
        v.boolVal = jsc_value_to_boolean(value) ? 1 : 0;
    } else if (jsc_value_is_number(value)) {
        // Every number is a double to the page: numbers travel as VT_R8.
        v.vt = VT_R8;
        v.dblVal = jsc_value_to_double(value);
    }
    return v;
}

JSCValue* VariantToJs(JSCContext* context, const VARIANT& value) {
    switch (value.vt) {
        case VT_I4:
            return jsc_value_new_number(context, value.lVal);
        case VT_INT:
            return jsc_value_new_number(context, value.intVal);
        case VT_UINT:
            return jsc_value_new_number(context, value.uintVal);
        case VT_R8:
            return jsc_value_new_number(context, value.dblVal);
        case VT_BSTR:
            return NewJsString(context, platform::WideToUtf8Lenient(platform::VariantText(value)));
        case VT_BOOL:
            return jsc_value_new_boolean(context, value.boolVal != 0);
        default:
            return nullptr;
    }
}

}  // namespace kxcef
