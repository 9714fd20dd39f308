#include "bridge/variant_convert.h"

#include "platform/text.h"

namespace kxcef {

VARIANT ListEntryToVariant(const CefListValue& list, size_t index) {
    VARIANT v;
    VariantInit(&v);
    switch (list.GetType(index)) {
        case VTYPE_BOOL:
            v.vt = VT_BOOL;
            v.boolVal = list.GetBool(index) ? 1 : 0;
            break;
        case VTYPE_INT:
            v.vt = VT_I4;
            v.lVal = list.GetInt(index);
            break;
        case VTYPE_DOUBLE:
            v.vt = VT_R8;
            v.dblVal = list.GetDouble(index);
            break;
        case VTYPE_STRING:
            v = platform::MakeBstrVariantFromUtf8(*list.StringUtf8(index));
            break;
        default:
            break;
    }
    return v;
}

bool VariantToListEntry(const VARIANT& v, CefListValue& list, size_t index) {
    switch (v.vt) {
        case VT_I4:
            return list.SetInt(index, v.lVal);
        case VT_INT:
            return list.SetInt(index, v.intVal);
        case VT_UINT:
            return list.SetInt(index, static_cast<int>(v.uintVal));
        case VT_BOOL:
            return list.SetBool(index, v.boolVal != 0);
        case VT_R8:
            return list.SetDouble(index, v.dblVal);
        case VT_BSTR:
            return list.SetString(index, platform::VariantText(v));
        default:
            return false;
    }
}

void ClearVariants(std::vector<VARIANT>& values) {
    for (VARIANT& v : values) VariantClear(&v);
    values.clear();
}

}  // namespace kxcef
