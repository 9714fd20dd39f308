// Page replies and command arguments: the texts the page receives and how
// argument text is read.
#include <gtest/gtest.h>

#include <json/reader.h>

#include "core/services/reply/js_reply.h"
#include "core/services/reply/main_web_wnd.h"
#include "core/services/reply/request_param.h"
#include "core/services/report/json_escape.h"
#include "tests/services/services_test_support.h"
#include "tests/support/fake_web_wnd.h"

namespace {

std::string Param(const std::string& key, const std::string& text, bool* found = nullptr) {
    std::string value = "stale";
    bool ok = GetRequestParam(key, text, value);
    if (found) *found = ok;
    return value;
}

TEST(GetRequestParam, ReadsValuesInAnyOrderAndOnlyWholeKeys) {
    EXPECT_EQ(Param("user", "user=a&pass=x"), "a");
    EXPECT_EQ(Param("user", "pass=x&user=a"), "a");
    // A key that merely begins or ends like another is a different key.
    EXPECT_EQ(Param("user", "username=b&user=c"), "c");
    EXPECT_EQ(Param("user", "xuser=b"), "");
    EXPECT_EQ(Param("USER", "user=a"), "");
}

TEST(GetRequestParam, MissingOrEmptyValueIsFalseAndClearsTheOutput) {
    bool found = true;
    EXPECT_EQ(Param("pass", "user=a&pass=", &found), "");
    EXPECT_FALSE(found);
    EXPECT_EQ(Param("pass", "user=a", &found), "");
    EXPECT_FALSE(found);
    EXPECT_EQ(Param("pass", "", &found), "");
    EXPECT_FALSE(found);
    EXPECT_EQ(Param("user", "user=a", &found), "a");
    EXPECT_TRUE(found);
}

TEST(GetRequestParam, FirstOfTwoEqualKeysWinsEvenWhenEmpty) {
    EXPECT_EQ(Param("room_id", "room_id=1&room_id=2"), "1");
    // The first segment decides, so an empty first value hides a later one.
    bool found = true;
    EXPECT_EQ(Param("room_id", "room_id=&room_id=2", &found), "");
    EXPECT_FALSE(found);
}

TEST(GetRequestParam, ValuesAreVerbatim) {
    EXPECT_EQ(Param("path", "path=a=b"), "a=b");
    EXPECT_EQ(Param("path", "path=%41"), "%41");
    EXPECT_EQ(Param("path", "path= x +y"), " x +y");
    // Segments without '=' are skipped, not misread as keys.
    EXPECT_EQ(Param("path", "path&path=z"), "z");
    EXPECT_EQ(Param("a", "&&a=1&&"), "1");
}

TEST(ParamConversions, FlagsAreExactlyTrueAndIntegersFollowTheCLibrary) {
    EXPECT_TRUE(ParamFlag("true"));
    EXPECT_FALSE(ParamFlag("TRUE"));
    EXPECT_FALSE(ParamFlag("1"));
    EXPECT_FALSE(ParamFlag("true "));
    EXPECT_EQ(ParamInt("abc"), 0);
    EXPECT_EQ(ParamInt("  -42xyz"), -42);
    EXPECT_EQ(ParamInt("+7"), 7);
    EXPECT_EQ(ParamInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParamInt("-99999999999999999999"), -2147483647 - 1);
}

TEST(BuildCallbackJson, WritesTheResultEnvelopeCompactly) {
    Json::Value data(Json::objectValue);
    data["res"] = true;
    EXPECT_EQ(BuildCallbackJson(data, "_nim_login"), "{\"result\":{\"cbfn\":\"_nim_login\",\"data\":{\"res\":true}}}\n");
    EXPECT_EQ(BuildCallbackJson(Json::Value(), "_nim_enum_player"),
              "{\"result\":{\"cbfn\":\"_nim_enum_player\",\"data\":null}}\n");
    EXPECT_EQ(BuildCallbackJson(Json::Value(), ""), "{\"result\":{\"cbfn\":\"\",\"data\":null}}\n");
}

TEST(SendJsCallback, CallsJsHandleCallBackWithOneStringArgument) {
    qmtest::ReplyRecorder recorder;
    SendJsCallback("{\"a\":1}\n", 7);
    auto replies = recorder.Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].function, "JsHandleCallBack");
    EXPECT_EQ(replies[0].browserId, 7);
    EXPECT_EQ(replies[0].argCount, 1u);
    EXPECT_EQ(replies[0].argType, VT_BSTR);
    EXPECT_EQ(replies[0].text, L"{\"a\":1}\n");
}

TEST(SendJsCallback, KeepsCharactersThatTheAnsiCodePageLacks) {
    qmtest::ReplyRecorder recorder;
    // "é" and "😀" have no GBK form; Chinese text has one. All must arrive intact.
    SendJsCallback("{\"t\":\"caf\xC3\xA9 \xF0\x9F\x98\x80 \xE4\xB8\xAD\"}", 1);
    auto replies = recorder.Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].text, L"{\"t\":\"caf\u00E9 \U0001F600 \u4E2D\"}");
}

TEST(SendJsCallback, EmptyOrUnconvertibleTextSendsNothing) {
    qmtest::ReplyRecorder recorder;
    SendJsCallback("", 1);
    SendJsCallback("\xFF\xFE broken", 1);
    EXPECT_TRUE(recorder.Replies().empty());
}

TEST(MainWebWnd, EventRepliesFollowTheRegisteredMainWindow) {
    EXPECT_EQ(MainBrowserId(), -1);
    qmtest::FakeWebWnd window(42);
    SetMainWebWnd(&window);
    EXPECT_EQ(MainWebWnd(), &window);
    EXPECT_EQ(MainBrowserId(), 42);
    SetMainWebWnd(nullptr);
    EXPECT_EQ(MainBrowserId(), -1);
}

TEST(JsonEscapeText, EscapesOnlyWhatWouldBreakAJsonString) {
    EXPECT_EQ(JsonEscapeText("a&b=c"), "a&b=c");
    EXPECT_EQ(JsonEscapeText("q\"b\\"), "q\\\"b\\\\");
    EXPECT_EQ(JsonEscapeText(std::string("\n\r\t\b\f\x01\x1f", 7)), "\\n\\r\\t\\b\\f\\u0001\\u001f");
    EXPECT_EQ(JsonEscapeText("\xE4\xB8\xAD/\x7f"), "\xE4\xB8\xAD/\x7f");
    // Whatever goes in comes back out of a JSON parser unchanged.
    std::string nasty = std::string("x\"}]\\\x02&=", 9);
    Json::Value parsed;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse("[\"" + JsonEscapeText(nasty) + "\"]", parsed));
    EXPECT_EQ(parsed[0].asString(), nasty);
}

}  // namespace
