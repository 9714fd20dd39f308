#include "bridge/wire_format.h"

namespace kxcef {
namespace {

GVariant* NullEntry() { return g_variant_new_tuple(nullptr, 0); }

GVariant* EncodeList(const CefListValue& list, int depth);

GVariant* EncodeEntry(const CefListValue& list, size_t i, int depth) {
    switch (list.GetType(i)) {
        case VTYPE_BOOL:
            return g_variant_new_boolean(list.GetBool(i));
        case VTYPE_INT:
            return g_variant_new_int32(list.GetInt(i));
        case VTYPE_DOUBLE:
            return g_variant_new_double(list.GetDouble(i));
        case VTYPE_STRING: {
            std::string s = list.GetStringUtf8(i);
            return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, s.data(), s.size(), 1);
        }
        case VTYPE_LIST: {
            CefRefPtr<CefListValue> child = list.GetList(i);
            if (child && depth < kMaxListDepth) return EncodeList(*child, depth + 1);
            return NullEntry();
        }
        default:
            return NullEntry();
    }
}

GVariant* EncodeList(const CefListValue& list, int depth) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
    for (size_t i = 0; i < list.GetSize(); ++i)
        g_variant_builder_add_value(&builder, g_variant_new_variant(EncodeEntry(list, i, depth)));
    return g_variant_builder_end(&builder);
}

void DecodeList(GVariant* array, CefListValue& list, int depth);

void DecodeEntry(GVariant* value, CefListValue& list, size_t index, int depth) {
    const GVariantType* type = g_variant_get_type(value);
    if (g_variant_type_equal(type, G_VARIANT_TYPE_BOOLEAN)) {
        list.SetBool(index, g_variant_get_boolean(value));
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE_INT32)) {
        list.SetInt(index, g_variant_get_int32(value));
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE_DOUBLE)) {
        list.SetDouble(index, g_variant_get_double(value));
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE_BYTESTRING)) {
        gsize size = 0;
        const char* data = static_cast<const char*>(g_variant_get_fixed_array(value, &size, 1));
        list.SetStringUtf8(index, std::string(data ? data : "", data ? size : 0));
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE("av")) && depth < kMaxListDepth) {
        CefRefPtr<CefListValue> child = CefListValue::Create();
        DecodeList(value, *child, depth + 1);
        list.SetList(index, child);
    } else {
        list.SetNull(index);
    }
}

void DecodeList(GVariant* array, CefListValue& list, int depth) {
    gsize n = g_variant_n_children(array);
    list.SetSize(n);
    for (gsize i = 0; i < n; ++i) {
        GVariant* boxed = g_variant_get_child_value(array, i);
        GVariant* value = g_variant_get_variant(boxed);
        DecodeEntry(value, list, i, depth);
        g_variant_unref(value);
        g_variant_unref(boxed);
    }
}

}  // namespace

GVariant* EncodeMessageParams(const CefListValue& list, const MessageExtras& extras) {
    GVariantBuilder dict;
    g_variant_builder_init(&dict, G_VARIANT_TYPE("a{sv}"));
    if (!extras.origin.empty())
        g_variant_builder_add(&dict, "{sv}", "origin", g_variant_new_string(extras.origin.c_str()));
    GVariant* children[2] = {EncodeList(list, 0), g_variant_builder_end(&dict)};
    return g_variant_ref_sink(g_variant_new_tuple(children, 2));
}

bool DecodeMessageParams(GVariant* params, CefListValue& list, MessageExtras* extras) {
    list.Clear();
    if (!params || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ava{sv})"))) return false;
    GVariant* array = g_variant_get_child_value(params, 0);
    DecodeList(array, list, 0);
    g_variant_unref(array);
    if (extras) {
        GVariant* dict = g_variant_get_child_value(params, 1);
        const char* origin = nullptr;
        if (g_variant_lookup(dict, "origin", "&s", &origin) && origin) extras->origin = origin;
        g_variant_unref(dict);
    }
    return true;
}

}  // namespace kxcef
