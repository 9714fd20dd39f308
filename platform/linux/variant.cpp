#include "platform/variant.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/text.h"

// A BSTR points just past a 4-byte length prefix (in bytes, as on Windows) and
// is followed by a null character.
namespace {
struct BstrHeader {
    std::uint32_t bytes;
};

// The length in the prefix (at most the room allocated) and the null after it.
void SetBstrLength(BSTR text, size_t length) {
    reinterpret_cast<BstrHeader*>(reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader))->bytes =
        static_cast<std::uint32_t>(length * sizeof(OLECHAR));
    text[length] = 0;
}

// Room for `length` characters and the null, contents not set.
BSTR AllocBstr(size_t length) {
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint64_t) + (length + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint64_t));
    SetBstrLength(chars, length);
    return chars;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR chars = AllocBstr(length);
    if (!chars) return nullptr;
    if (text && length) std::memcpy(chars, text, length * sizeof(OLECHAR));
    else if (length) std::memset(chars, 0, length * sizeof(OLECHAR));
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

UINT SysStringLen(BSTR text) {
    if (!text) return 0;
    auto* header = reinterpret_cast<BstrHeader*>(reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader));
    return header->bytes / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint64_t));
}

void VariantInit(VARIANT* v) {
    if (!v) return;
    std::memset(v, 0, sizeof(*v));
    v->vt = VT_EMPTY;
}

void VariantClear(VARIANT* v) {
    if (!v) return;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    VariantInit(v);
}

namespace platform {

std::wstring VariantText(const VARIANT& v) {
    if (v.vt != VT_BSTR || !v.bstrVal) return {};
    return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
}

std::string VariantUtf8(const VARIANT& v) {
    if (v.vt != VT_BSTR || !v.bstrVal) return {};
    return WideToUtf8(v.bstrVal, SysStringLen(v.bstrVal));
}

VARIANT MakeBstrVariantFromUtf8(const std::string& utf8) {
    VARIANT v;
    VariantInit(&v);
    // Room for one character per byte, then the length it really has.
    BSTR text = AllocBstr(utf8.size());
    if (!text) return v;
    size_t length = Utf8ToWideLenientInto(utf8.data(), utf8.size(), text);
    SetBstrLength(text, length);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    return v;
}

VARIANT MakeBstrVariant(const std::wstring& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

VARIANT MakeI4Variant(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

}  // namespace platform
