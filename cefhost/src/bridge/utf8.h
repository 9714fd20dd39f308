// Lenient text conversions for the bridge: page strings may hold embedded
// nulls and unpaired surrogates; both must cross intact or as U+FFFD, never
// turn a whole argument into an empty string.
#pragma once

#include <string>

namespace kxcef {

// UTF-8 (also the "WTF-8" form of unpaired surrogates) to wide text; every
// malformed sequence or surrogate becomes U+FFFD. Embedded nulls are kept.
std::wstring Utf8ToWideLenient(const std::string& text);
std::wstring Utf8ToWideLenient(const char* data, size_t size);
// Wide text to UTF-8; code points that are no Unicode scalar value become U+FFFD.
std::string WideToUtf8Lenient(const std::wstring& text);
// Repairs UTF-8 in place of the same rules (valid input is returned unchanged).
std::string SanitizeUtf8(const char* data, size_t size);

}  // namespace kxcef
