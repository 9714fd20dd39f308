#include "attributes.h"

#include <cwchar>
#include <cwctype>

namespace UiLib {
namespace detail {

int ParseInt(const wchar_t* value, int fallback) {
    if (!value || !*value) return fallback;
    wchar_t* end = nullptr;
    long number = std::wcstol(value, &end, 10);
    return end == value ? fallback : static_cast<int>(number);
}

bool ParseColor(const wchar_t* value, DWORD* argb) {
    if (!value) return false;
    std::wstring text(value);
    std::size_t start = 0;
    if (!text.empty() && text[0] == L'#') start = 1;
    else if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) start = 2;
    std::wstring digits = text.substr(start);
    if (digits.size() != 6 && digits.size() != 8) return false;
    for (wchar_t c : digits) {
        if (!std::iswxdigit(c)) return false;
    }
    unsigned long number = std::wcstoul(digits.c_str(), nullptr, 16);
    if (digits.size() == 6) number |= 0xFF000000ul;
    *argb = static_cast<DWORD>(number);
    return true;
}

RECT ParseRect(const wchar_t* value) {
    RECT rect;
    if (!value) return rect;
    LONG* parts[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
    const wchar_t* p = value;
    for (LONG* part : parts) {
        wchar_t* end = nullptr;
        long number = std::wcstol(p, &end, 10);
        if (end == p) break;
        *part = static_cast<LONG>(number);
        p = end;
        while (*p == L' ') ++p;
        if (*p != L',') break;
        ++p;
    }
    return rect;
}

bool ParseSize(const wchar_t* value, int* cx, int* cy) {
    if (!value) return false;
    wchar_t* end = nullptr;
    long w = std::wcstol(value, &end, 10);
    if (end == value || *end != L',') return false;
    const wchar_t* second = end + 1;
    long h = std::wcstol(second, &end, 10);
    if (end == second) return false;
    *cx = static_cast<int>(w);
    *cy = static_cast<int>(h);
    return true;
}

bool ParseBool(const wchar_t* value) { return value && SameName(value, L"true"); }

bool SameName(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return false;
    for (; *a && *b; ++a, ++b) {
        if (std::towlower(*a) != std::towlower(*b)) return false;
    }
    return *a == *b;
}

}  // namespace detail
}  // namespace UiLib
