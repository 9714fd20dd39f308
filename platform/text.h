// Text conversions between wide strings, UTF-8, UTF-16 and the ANSI code page
// (code page 936, GBK, as on the target systems). A conversion that fails gives
// an empty string, never an exception.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text, size_t size);
std::wstring Utf8ToWide(const std::string& text);

// Lenient forms for text from web pages, which may hold unpaired surrogates:
// every malformed sequence or non-scalar value becomes U+FFFD instead of
// failing the whole text. Embedded nulls are kept.
std::wstring Utf8ToWideLenient(const char* data, size_t size);
inline std::wstring Utf8ToWideLenient(const std::string& text) { return Utf8ToWideLenient(text.data(), text.size()); }
std::string WideToUtf8Lenient(const std::wstring& text);
// The lenient decoding into `out`, which has room for `size` characters (a
// text never has more characters than bytes); returns how many it wrote.
size_t Utf8ToWideLenientInto(const char* data, size_t size, wchar_t* out);
// Valid UTF-8 comes back unchanged; anything malformed is repaired as above.
std::string SanitizeUtf8(const char* data, size_t size);
// Text as a JavaScript engine holds it, UTF-16 code units that may hold
// unpaired surrogates: each unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8Lenient(const std::uint16_t* units, size_t count);
std::wstring Utf16ToWideLenient(const std::uint16_t* units, size_t count);
// Into UTF-16 code units: malformed UTF-8 sequences and values that are no
// Unicode scalar value become U+FFFD.
std::u16string Utf8ToUtf16Lenient(const char* data, size_t size);
std::u16string WideToUtf16Lenient(const std::wstring& text);
// Whether the bytes are valid UTF-8 of Unicode scalar values (so that
// SanitizeUtf8 would give them back unchanged).
bool IsValidUtf8(const char* data, size_t size);

// ANSI here means code page 936 (GBK).
std::string WideToAnsi(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

// UTF-16 code units, for files and wire formats that are UTF-16LE.
std::u16string WideToUtf16(const std::wstring& text);
std::wstring Utf16ToWide(const std::u16string& text);
// Little-endian UTF-16 bytes of a wide string.
std::string WideToUtf16LEBytes(const std::wstring& text);

// Text files as Windows tools write them: UTF-16LE or UTF-8 with a byte-order
// mark, otherwise the ANSI code page.
enum class TextEncoding { Ansi, Utf8Bom, Utf16LE };
// Decodes a whole file's bytes; `ok` is false when the bytes are not valid text
// of the detected encoding (the result is then empty).
std::wstring DecodeTextFile(const std::string& bytes, TextEncoding* detected, bool* ok);
std::string EncodeTextFile(const std::wstring& text, TextEncoding encoding);

// ASCII-only case helpers (the C library's tolower/toupper for the "C" locale).
std::wstring ToLowerAscii(std::wstring text);
std::string ToLowerAscii(std::string text);
bool EqualsIgnoreCaseAscii(const std::wstring& a, const std::wstring& b);

}  // namespace platform
