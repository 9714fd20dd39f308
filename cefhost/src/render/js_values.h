// Conversions between page values (JavaScriptCore) and the bridge's list
// values and VARIANTs, on the render side.
#pragma once

#include <jsc/jsc.h>

#include "bridge/wire_format.h"
#include "kxcef/cef_base.h"
#include "platform/variant.h"

namespace kxcef {

// What one page call may still put into its message: entries at any depth
// and string bytes (the bridge's message limits).
struct CallBudget {
    size_t entries = kMaxMessageEntries;
    size_t textBytes = kMaxMessageTextBytes;
    bool exceeded = false;

    bool SpendEntries(size_t n);
    bool SpendText(size_t n);
    bool Exceed() {
        exceeded = true;
        return false;
    }
};

// array → nested list, string → string, bool → bool, int → int, other
// number → double; anything else sets nothing (the entry reads as null).
// Arrays nested deeper than kMaxListDepth convert as nothing. False, with the
// list incomplete, once the budget is spent.
bool JsToListEntry(JSCValue* value, CefListValue& list, size_t index, CallBudget& budget);
// bool, int, double, string, list → array; anything else → null. New reference.
JSCValue* ListEntryToJs(JSCContext* context, const CefListValue& list, size_t index);
// string → VT_BSTR, number → VT_R8, bool → VT_BOOL (1/0); else VT_EMPTY.
VARIANT JsToVariant(JSCValue* value);
// VT_I4/VT_INT → int, VT_UINT → unsigned, VT_R8 → double, VT_BSTR → string,
// VT_BOOL → bool; null for any other type. New reference.
JSCValue* VariantToJs(JSCContext* context, const VARIANT& value);

// The UTF-8 text of a string value, embedded nulls kept, unpaired
// surrogates replaced (with the context's string helper; without it the
// text ends at the first unpaired surrogate).
std::string JsStringUtf8(JSCValue* value);
// Defines the context's string helper (the engine's own toWellFormed, taken
// before any page script can replace it). Once per global object. Returns it
// (a new reference) or null.
JSCValue* InstallStringHelper(JSCContext* context);

// Makes `helper` the string helper of the conversions on this thread for the
// guard's lifetime (saves finding it per string).
class ScopedStringHelper {
public:
    explicit ScopedStringHelper(JSCValue* helper);
    ~ScopedStringHelper();
    ScopedStringHelper(const ScopedStringHelper&) = delete;
    ScopedStringHelper& operator=(const ScopedStringHelper&) = delete;

private:
    JSCValue* previous_;
};

}  // namespace kxcef
