// Reading a page command's arguments: "name=value" segments joined by '&'.
#pragma once

#include <string>

// Value of the first segment whose name equals `key` exactly, with its
// percent-escapes decoded (DecodeRequestValue): a page writes a value holding '&',
// '=' or '%' as %26, %3D or %25 (encodeURIComponent), and any other text as it
// is. False when the key is missing or its value empty.
bool GetRequestParam(const std::string& key, const std::string& text, std::string& value);

// "%XX" (two hex digits, either case) becomes its byte; anything else, a '%'
// without two hex digits after it and "%00" (a value ends at a NUL for the
// modules it is handed to) included, stays as written. '+' stays '+'.
std::string DecodeRequestValue(const std::string& text);

// A flag argument: true only for the exact text "true".
bool ParamFlag(const std::string& value);
// The C library's decimal conversion (leading blanks and a sign, stops at the
// first non-digit, 0 without digits), clamped to the int range.
int ParamInt(const std::string& value);

