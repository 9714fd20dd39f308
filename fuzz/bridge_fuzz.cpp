// The bridge's message parameters as they arrive from another process, and the
// conversions between list entries and VARIANTs on the browser side. Decoding
// any bytes is safe; what decodes encodes to a stable form; entries keep their
// type and their text through a VARIANT.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "platform/text.h"

namespace {

// Parameters over a copy of `bytes`, as a message from another process brings them.
GVariant* Params(const void* bytes, size_t size, bool trusted) {
    gpointer copy = g_memdup2(bytes, size);
    return g_variant_ref_sink(
        g_variant_new_from_data(G_VARIANT_TYPE("(ava{sv})"), copy, size, trusted, g_free, copy));
}

std::string Encoded(const CefListValue& list, const kxcef::MessageExtras& extras) {
    GVariant* v = kxcef::EncodeMessageParams(list, extras);
    std::string bytes(static_cast<const char*>(g_variant_get_data(v)), g_variant_get_size(v));
    g_variant_unref(v);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GVariant* params = Params(data, size, false);
    CefRefPtr<CefListValue> list = CefListValue::Create();
    kxcef::MessageExtras extras;
    bool ok = kxcef::DecodeMessageParams(params, *list, &extras);
    g_variant_unref(params);
    if (!ok) __builtin_trap();  // the type is right: glib gives defaults for broken data

    // Whatever arrived, the next hop sees the same message.
    std::string once = Encoded(*list, extras);
    GVariant* again = Params(once.data(), once.size(), true);
    CefRefPtr<CefListValue> second = CefListValue::Create();
    kxcef::MessageExtras extras2;
    kxcef::DecodeMessageParams(again, *second, &extras2);
    g_variant_unref(again);
    if (Encoded(*second, extras2) != once || extras2.origin != extras.origin) __builtin_trap();

    // Through VARIANTs and back: types stay, valid texts stay exactly.
    CefRefPtr<CefListValue> back = CefListValue::Create();
    for (size_t i = 0; i < list->GetSize(); ++i) {
        VARIANT v = kxcef::ListEntryToVariant(*list, i);
        bool set = kxcef::VariantToListEntry(v, *back, i);
        VariantClear(&v);
        CefValueType type = list->GetType(i);
        bool scalar = type == VTYPE_BOOL || type == VTYPE_INT || type == VTYPE_DOUBLE || type == VTYPE_STRING;
        if (set != scalar) __builtin_trap();
        if (!scalar) continue;
        if (back->GetType(i) != type) __builtin_trap();
        if (type == VTYPE_STRING) {
            std::string text = list->GetStringUtf8(i);
            if (platform::SanitizeUtf8(text.data(), text.size()) == text && back->GetStringUtf8(i) != text)
                __builtin_trap();
        }
    }

    // The raw bytes as one text entry travel intact (once made valid UTF-8).
    std::string text(reinterpret_cast<const char*>(data), size);
    CefRefPtr<CefListValue> one = CefListValue::Create();
    one->SetStringUtf8(0, text);
    std::string bytes = Encoded(*one, kxcef::MessageExtras());
    GVariant* wire = Params(bytes.data(), bytes.size(), true);
    CefRefPtr<CefListValue> got = CefListValue::Create();
    kxcef::DecodeMessageParams(wire, *got, nullptr);
    g_variant_unref(wire);
    if (got->GetStringUtf8(0) != platform::SanitizeUtf8(text.data(), text.size())) __builtin_trap();
    return 0;
}
