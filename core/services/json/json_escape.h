// Escaping text for the inside of a JSON string literal.
#pragma once

#include <string>

// Escapes '"', '\\' and the control characters (below 0x20) as JSON requires;
// every other byte, '&' and '=' included, is kept as it is.
std::string JsonEscapeText(const std::string& text);
