// The bridge's message parameters as they arrive from another process, and the
// conversions between list entries and VARIANTs on the browser side. Decoding
// any bytes is safe and linear in their size (run with a per-input time
// budget: the first byte's bit 7 repeats the rest up to the largest message a
// page may send, with bit 6 as well up to 1 MiB, past the limits, which must
// be refused as cheaply); what decodes encodes to a stable form; entries keep
// their type and their text through a VARIANT.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "platform/text.h"

namespace {

// Parameters over a copy of `bytes`, as a message from another process brings them.
GVariant* Params(const std::string& bytes) {
    return g_variant_ref_sink(g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1));
}

std::string Encoded(const CefListValue& list, const kxcef::MessageExtras& extras) {
    GVariant* v = kxcef::EncodeMessageParams(list, extras);
    std::string bytes(static_cast<const char*>(g_variant_get_data(v)), g_variant_get_size(v));
    g_variant_unref(v);
    return bytes;
}

// A message (no document, no origin) whose list holds the entry bytes of
// `unit` as often as the limits allow, or (`pastLimits`) as 1 MiB allows.
std::string Tiled(const uint8_t* data, size_t size, bool pastLimits) {
    const size_t largest = pastLimits ? size_t(1) << 20 : kxcef::kMaxMessageTextBytes + 8 * kxcef::kMaxMessageEntries;
    const size_t maxCount = pastLimits ? largest : kxcef::kMaxMessageEntries;
    std::string unit(reinterpret_cast<const char*>(data), size);
    std::string head = std::string("\x01", 1) + std::string(8, '\0') + std::string(4, '\0');
    std::string body;
    uint32_t count = 0;
    while (!unit.empty() && count < maxCount && head.size() + 4 + body.size() + unit.size() <= largest) {
        body += unit;
        ++count;
    }
    head.append(reinterpret_cast<const char*>(&count), 4);
    return head + body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Tiled inputs check the cost of decoding and encoding; the other checks
    // run on the inputs as they come.
    bool tiled = size > 0 && (data[0] & 0x80);
    std::string input = tiled ? Tiled(data + 1, size - 1, data[0] & 0x40)
                              : std::string(reinterpret_cast<const char*>(data), size);
    GVariant* params = Params(input);
    CefRefPtr<CefListValue> list = CefListValue::Create();
    kxcef::MessageExtras extras;
    bool ok = kxcef::DecodeMessageParams(params, *list, &extras);
    g_variant_unref(params);
    if (!ok && list->GetSize() != 0) __builtin_trap();  // a refused message leaves nothing

    if (ok) {
        // Whatever arrived, the next hop sees the same message.
        std::string once = Encoded(*list, extras);
        if (tiled) return 0;
        GVariant* again = Params(once);
        CefRefPtr<CefListValue> second = CefListValue::Create();
        kxcef::MessageExtras extras2;
        if (!kxcef::DecodeMessageParams(again, *second, &extras2)) __builtin_trap();
        g_variant_unref(again);
        if (Encoded(*second, extras2) != once || extras2.origin != extras.origin ||
            extras2.document != extras.document)
            __builtin_trap();
    }

    if (tiled) return 0;

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
    if (size <= kxcef::kMaxMessageTextBytes / 3) {  // each bad byte may become three
        std::string text(reinterpret_cast<const char*>(data), size);
        CefRefPtr<CefListValue> one = CefListValue::Create();
        one->SetStringUtf8(0, text);
        GVariant* wire = Params(Encoded(*one, kxcef::MessageExtras()));
        CefRefPtr<CefListValue> got = CefListValue::Create();
        if (!kxcef::DecodeMessageParams(wire, *got, nullptr)) __builtin_trap();
        g_variant_unref(wire);
        if (got->GetStringUtf8(0) != platform::SanitizeUtf8(text.data(), text.size())) __builtin_trap();
    }
    return 0;
}
