// COM-style VARIANT and BSTR: the value type of the JavaScript bridge's callback
// interfaces. BSTRs are length-prefixed wide strings owned by whoever allocates
// them; VariantClear frees the BSTR a VARIANT holds.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

using OLECHAR = wchar_t;
using BSTR = OLECHAR*;
using VARTYPE = unsigned short;
using VARIANT_BOOL = short;
using DATE = double;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        std::int64_t llVal;
        LONG lVal;
        BYTE bVal;
        short iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        DATE date;
        BSTR bstrVal;
        void* pdispVal;
        int intVal;
        UINT uintVal;
        DWORD ulVal;
    };
};

// Allocates a BSTR holding a copy of the null-terminated text; null for null input.
BSTR SysAllocString(const OLECHAR* text);
// Allocates a BSTR holding `length` characters of `text` (which may contain nulls).
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Length in characters of a BSTR (0 for null).
UINT SysStringLen(BSTR text);
// Frees a BSTR made by SysAllocString*; null is allowed.
void SysFreeString(BSTR text);

void VariantInit(VARIANT* v);
// Frees what the VARIANT owns (its BSTR) and leaves it VT_EMPTY.
void VariantClear(VARIANT* v);

namespace platform {

// Text of a VT_BSTR variant, whole length; empty for any other type.
std::wstring VariantText(const VARIANT& v);
// The same as UTF-8, straight from the BSTR (empty when it holds a value that
// is no Unicode character, as WideToUtf8 gives).
std::string VariantUtf8(const VARIANT& v);
// A VT_BSTR variant holding a copy of the text.
VARIANT MakeBstrVariant(const std::wstring& text);
// A VT_BSTR variant of UTF-8 text, decoded leniently straight into the BSTR.
VARIANT MakeBstrVariantFromUtf8(const std::string& utf8);
VARIANT MakeI4Variant(LONG value);

}  // namespace platform
