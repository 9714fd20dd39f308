// Reading a page command's arguments: "name=value" segments joined by '&'.
#pragma once

#include <string>

// Value of the first segment whose name equals `key` exactly, taken verbatim
// (no decoding, may contain '='). False when the key is missing or its value empty.
bool GetRequestParam(const std::string& key, const std::string& text, std::string& value);

// A flag argument: true only for the exact text "true".
bool ParamFlag(const std::string& value);
// The C library's decimal conversion (leading blanks and a sign, stops at the
// first non-digit, 0 without digits), clamped to the int range.
int ParamInt(const std::string& value);

