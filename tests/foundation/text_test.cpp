#include <gtest/gtest.h>

#include "platform/text.h"
#include "platform/variant.h"

using namespace platform;

TEST(TextConversion, GbkRoundTripKeepsChineseBytes) {
    const std::wstring reportStart = L"\u4e0a\u62a5\u542f\u52a8";  // "report start"
    std::string gbk = WideToAnsi(reportStart);
    EXPECT_EQ(gbk, "\xC9\xCF\xB1\xA8\xC6\xF4\xB6\xAF");
    EXPECT_EQ(AnsiToWide(gbk), reportStart);
    EXPECT_EQ(AnsiToUtf8(gbk), "\xE4\xB8\x8A\xE6\x8A\xA5\xE5\x90\xAF\xE5\x8A\xA8");
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(gbk)), gbk);
}

TEST(TextConversion, FailuresGiveEmptyStrings) {
    EXPECT_EQ(Utf8ToWide("ok\xC3"), L"");          // truncated sequence
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"");    // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"");        // overlong
    EXPECT_EQ(AnsiToWide("\x81"), L"");            // lone GBK lead byte
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "");
    EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversion, LenientFormsReplaceWhatIsMalformedAndKeepTheRest) {
    EXPECT_EQ(Utf8ToWideLenient(std::string("\xc0\xafz")), L"\uFFFDz");        // overlong
    EXPECT_EQ(Utf8ToWideLenient(std::string("ab\xe4\xb8")), L"ab\uFFFD");      // cut short
    EXPECT_EQ(Utf8ToWideLenient(std::string("\xf4\x90\x80\x80")), L"\uFFFD");  // past U+10FFFF
    EXPECT_EQ(Utf8ToWideLenient(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(SanitizeUtf8("plain", 5), "plain");
    EXPECT_EQ(SanitizeUtf8("\xed\xb0\x80", 3), "\xef\xbf\xbd");  // an encoded lone surrogate
    EXPECT_EQ(WideToUtf8Lenient(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xef\xbf\xbd");
}

TEST(TextConversion, CharactersGbkLacksBecomeQuestionMarks) {
    // As the Windows conversion without flags substitutes the default character.
    EXPECT_EQ(WideToAnsi(L"a\U0001F600b"), "a?b");
}

TEST(TextConversion, Utf16KeepsSupplementaryCharactersAndLoneSurrogates) {
    std::wstring text = L"x\U0001F600";
    text += static_cast<wchar_t>(0xDC00);
    std::u16string units = WideToUtf16(text);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[1], 0xD83D);
    EXPECT_EQ(Utf16ToWide(units), text);
    EXPECT_EQ(WideToUtf16LEBytes(L"A\u4e0a"), std::string("A\0\x0a\x4e", 4));
}

TEST(TextConversion, DecodesTextFilesByByteOrderMark) {
    bool ok = false;
    TextEncoding enc;
    EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE" "a\0b\0", 6), &enc, &ok), L"ab");
    EXPECT_TRUE(ok);
    EXPECT_EQ(enc, TextEncoding::Utf16LE);
    EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF\xE4\xB8\x8A", &enc, &ok), L"\u4e0a");
    EXPECT_EQ(enc, TextEncoding::Utf8Bom);
    EXPECT_EQ(DecodeTextFile("\xC9\xCF", &enc, &ok), L"\u4e0a");
    EXPECT_EQ(enc, TextEncoding::Ansi);
    DecodeTextFile("\x81", &enc, &ok);
    EXPECT_FALSE(ok);
}

TEST(Variant, BstrKeepsLengthAndEmbeddedNulls) {
    const wchar_t text[] = L"a\0b";
    BSTR b = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(std::wstring(b, 3), std::wstring(text, 3));
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);

    VARIANT v = MakeBstrVariant(L"hello");
    EXPECT_EQ(VariantText(v), L"hello");
    VariantClear(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    VARIANT i = MakeI4Variant(5);
    EXPECT_EQ(VariantText(i), L"");
}
