#include <gtest/gtest.h>

#include "common/start_address.h"

namespace {

ChannelInfo Channel() {
    ChannelInfo c;
    c.webUrl = L"https://web.example/?inner=pc&";
    return c;
}

StartAddress Build(const std::wstring& commandLine, const std::string& cid = "83302ACB1052") {
    return BuildStartAddress(CCmdLineParser(commandLine), cid, Channel());
}

}  // namespace

TEST(StartAddress, UrlWithoutQueryGetsInnerPcAndTheChannelId) {
    StartAddress a = Build(L"*url:\"http://127.0.0.1:8000/\"");
    EXPECT_EQ(a.address, L"http://127.0.0.1:8000/?inner=pc&channelId=83302ACB1052");
    EXPECT_EQ(a.cid, "83302ACB1052");
    EXPECT_TRUE(a.fromSwitch);
}

TEST(StartAddress, UrlWithItsOwnChannelIdKeepsItAndTakesItsValue) {
    StartAddress a = Build(L"*url:\"http://h/p?x=1&channelId=777\"");
    EXPECT_EQ(a.address, L"http://h/p?x=1&channelId=777&inner=pc");
    EXPECT_EQ(a.cid, "777");
}

TEST(StartAddress, ChannelIdInsideAnotherNameAddsNothingAndEmptiesTheId) {
    StartAddress a = Build(L"*url:\"http://h/?mychannelId=5\"");
    EXPECT_EQ(a.address, L"http://h/?mychannelId=5&inner=pc");
    EXPECT_EQ(a.cid, "");
}

TEST(StartAddress, Url2IsPercentDecodedWithoutInnerPc) {
    StartAddress a = Build(L"*url2:\"http%3A%2F%2Fh%2Fa+b%3Fk%3Dv\"");
    EXPECT_EQ(a.address, L"http://h/a b?k=v&channelId=83302ACB1052");
    EXPECT_EQ(a.cid, "83302ACB1052");
    EXPECT_TRUE(a.fromSwitch);
    // UTF-8 escapes become the wide characters they encode.
    EXPECT_EQ(Build(L"*url2:\"http://h/%E4%B8%AD?channelId=9\"").address, L"http://h/\u4e2d?channelId=9");
    // A '%' among the last two characters ends the decoding.
    EXPECT_EQ(PercentDecode("abc%4"), "abc");
    EXPECT_EQ(PercentDecode("%41%zz%"), "A%zz");
}

TEST(StartAddress, EmptyUrl2FallsBackToTheChannelsFrontEnd) {
    StartAddress a = Build(L"*url2:");
    EXPECT_EQ(a.address, L"https://web.example/?inner=pc&channelId=83302ACB1052");
    EXPECT_FALSE(a.fromSwitch);
}

TEST(StartAddress, UnknownChannelGivesOnlyTheChannelIdParameter) {
    StartAddress a = BuildStartAddress(CCmdLineParser(L""), "ZZZ", ChannelInfo());
    EXPECT_EQ(a.address, L"channelId=ZZZ");
    EXPECT_EQ(a.cid, "ZZZ");
}

TEST(StartAddress, ChannelIdQueryValueRules) {
    EXPECT_EQ(ChannelIdQueryValue(L"http://h/?a=1&channelId=42&channelId=43"), "42");
    EXPECT_EQ(ChannelIdQueryValue(L"http://h/?a=1&x?channelId=8"), "8");  // cut after a second '?'
    EXPECT_EQ(ChannelIdQueryValue(L"channelId=5"), "5");                  // no '?' at all
    EXPECT_EQ(ChannelIdQueryValue(L"http://h/?ChannelId=5"), "");         // case-sensitive
    EXPECT_EQ(ChannelIdQueryValue(L"http://h/?channelId"), "");
}
