#include <gtest/gtest.h>

#include "common/cmdline_parser.h"

TEST(CmdLineParser, BlanksBeforeTheNextSwitchBelongToTheValue) {
    CCmdLineParser p(L"*a:one *b:two");
    EXPECT_EQ(p.GetVal(L"a"), L"one ");
    EXPECT_EQ(p.GetVal(L"b"), L"two");
}

TEST(CmdLineParser, QuotedValuesAndSwitchesWithoutValue) {
    CCmdLineParser p(L"*a:\"x y\" *b");
    EXPECT_EQ(p.GetVal(L"a"), L"x y");
    EXPECT_TRUE(p.HasKey(L"b"));
    EXPECT_EQ(p.GetVal(L"b"), L"");

    CCmdLineParser q(L"*cid:\"83302ACB1052\" *url:\"http://127.0.0.1:8000/\"");
    EXPECT_EQ(q.GetVal(L"cid"), L"83302ACB1052");
    EXPECT_EQ(q.GetVal(L"url"), L"http://127.0.0.1:8000/");
}

TEST(CmdLineParser, NamesAreCaseInsensitiveAndTheFirstOccurrenceWins) {
    CCmdLineParser p(L"*Start_CID:AbC *start_cid:zzz");
    EXPECT_EQ(p.GetVal(L"start_cid"), L"AbC ");
    EXPECT_EQ(p.GetVal(L"START_CID"), L"AbC ");
    EXPECT_FALSE(p.HasKey(L"cid"));
    EXPECT_EQ(p.GetVal(L"cid"), L"");
}

TEST(CmdLineParser, SlashPrefixAndValuesWithSlashes) {
    CCmdLineParser p(L"/cid:83302ACB1052 *url:http://h/p?q=1");
    EXPECT_EQ(p.GetVal(L"cid"), L"83302ACB1052 ");
    EXPECT_EQ(p.GetVal(L"url"), L"http://h/p?q=1");
}

TEST(CmdLineParser, EmptyValuesAndSwitchesAtTheEnd) {
    CCmdLineParser p(L"*a:*b:x *c:");
    EXPECT_TRUE(p.HasKey(L"a"));
    EXPECT_EQ(p.GetVal(L"a"), L"");
    EXPECT_EQ(p.GetVal(L"b"), L"x ");
    EXPECT_TRUE(p.HasKey(L"c"));
    CCmdLineParser quoted(L"*a:\"\" *b:1");
    EXPECT_EQ(quoted.GetVal(L"a"), L"");
    EXPECT_EQ(quoted.GetVal(L"b"), L"1");
}

TEST(CmdLineParser, LonePrefixesAndLinesWithoutSwitches) {
    EXPECT_TRUE(CCmdLineParser(L"*").Switches().empty());
    EXPECT_TRUE(CCmdLineParser(L"plain words only").Switches().empty());
    EXPECT_TRUE(CCmdLineParser(L"").Switches().empty());
    CCmdLineParser p(L"x * *y");
    EXPECT_TRUE(p.HasKey(L"y"));
}

TEST(CmdLineParser, UnbalancedQuotesTakeTheRestOfTheLine) {
    CCmdLineParser p(L"*a:\"open *b:2");
    EXPECT_EQ(p.GetVal(L"a"), L"open *b:2");
    EXPECT_FALSE(p.HasKey(L"b"));
}

TEST(CmdLineParser, HugeAndOddLinesEndWithoutHanging) {
    std::wstring big(100 * 1024, L'*');
    CCmdLineParser p(big);
    EXPECT_LE(p.Switches().size(), 1u);
    CCmdLineParser blanks(L"*a:" + std::wstring(100 * 1024, L' ') + L"*b:\"" + std::wstring(100 * 1024, L'x'));
    EXPECT_EQ(blanks.GetVal(L"a").size(), 100u * 1024u);
    EXPECT_EQ(blanks.GetVal(L"b").size(), 100u * 1024u);
    std::wstring many;
    for (int i = 0; i < 5000; ++i) many += L"*k" + std::to_wstring(i) + L":\"v\" ";
    CCmdLineParser q(many);
    EXPECT_EQ(q.Switches().size(), 5000u);
    CCmdLineParser r(L"\n\r\t*a:\x01\xFFFF*b");
    EXPECT_EQ(r.GetVal(L"a"), std::wstring(L"\x01\xFFFF"));
}
