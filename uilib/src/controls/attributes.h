// Reading skin attribute values: numbers, colours, rectangles and flags.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// "123" -> 123; anything unreadable -> fallback.
int ParseInt(const wchar_t* value, int fallback = 0);
// "#AARRGGBB", "#RRGGBB" (opaque) or "0xAARRGGBB"; false when unreadable.
bool ParseColor(const wchar_t* value, DWORD* argb);
// "l,t,r,b" (missing parts are 0).
RECT ParseRect(const wchar_t* value);
// "w,h".
bool ParseSize(const wchar_t* value, int* cx, int* cy);
bool ParseBool(const wchar_t* value);
bool SameName(const wchar_t* a, const wchar_t* b);  // ASCII case-insensitive

}  // namespace detail
}  // namespace UiLib
