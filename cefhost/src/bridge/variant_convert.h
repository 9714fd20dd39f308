// Conversions between list entries and VARIANTs on the browser side of the
// bridge. VARIANT lists built here own their BSTRs: ClearVariants frees them.
#pragma once

#include <vector>

#include "kxcef/cef_base.h"
#include "platform/variant.h"

namespace kxcef {

// bool → VT_BOOL (1/0), int → VT_I4, double → VT_R8, string → VT_BSTR,
// anything else → VT_EMPTY.
VARIANT ListEntryToVariant(const CefListValue& list, size_t index);
// VT_I4/VT_INT/VT_UINT → int, VT_BOOL → bool, VT_R8 → double, VT_BSTR →
// string; any other type sets nothing. False when nothing was set.
bool VariantToListEntry(const VARIANT& v, CefListValue& list, size_t index);

void ClearVariants(std::vector<VARIANT>& values);

// Owns a vector of VARIANTs for the length of one call.
class ScopedVariants {
public:
    ScopedVariants() = default;
    ~ScopedVariants() { ClearVariants(values_); }
    ScopedVariants(const ScopedVariants&) = delete;
    ScopedVariants& operator=(const ScopedVariants&) = delete;
    std::vector<VARIANT>& get() { return values_; }

private:
    std::vector<VARIANT> values_;
};

}  // namespace kxcef
