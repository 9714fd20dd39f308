// Page replies and command arguments: the texts the page receives and how
// argument text is read.
#include <gtest/gtest.h>

#include <json/reader.h>

#include "core/services/reply/js_reply.h"
#include "kxcef/cef3_manager.h"
#include "core/services/reply/main_web_wnd.h"
#include "core/services/reply/request_param.h"
#include "core/services/json/json_escape.h"
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

TEST(GetRequestParam, ValuesArePercentDecodedAndSegmentsSplitBeforeDecoding) {
    EXPECT_EQ(Param("path", "path=a=b"), "a=b");
    EXPECT_EQ(Param("path", "path=%41%62"), "Ab");
    EXPECT_EQ(Param("path", "path= x +y"), " x +y");
    // An escaped '&' belongs to the value: an address keeps its whole query.
    EXPECT_EQ(Param("rtmp_url", "room_id=1&rtmp_url=rtmp%3A%2F%2Fh%2Fa%3Fkey%3Dk%26t%3D2&audio_mode=1"),
              "rtmp://h/a?key=k&t=2");
    EXPECT_EQ(Param("room_id", "room_id=%E6%88%BF%E9%97%B4"), "\xE6\x88\xBF\xE9\x97\xB4");
    // What is no escape stays as written; so does an escaped NUL.
    EXPECT_EQ(Param("p", "p=100%"), "100%");
    EXPECT_EQ(Param("p", "p=%4"), "%4");
    EXPECT_EQ(Param("p", "p=%G1%%41"), "%G1%A");
    EXPECT_EQ(Param("p", "p=a%00b"), "a%00b");
    EXPECT_EQ(Param("p", "p=%2525"), "%25") << "decoded once";
    // Segments without '=' are skipped, not misread as keys; keys are not decoded.
    EXPECT_EQ(Param("path", "path&path=z"), "z");
    EXPECT_EQ(Param("a", "&&a=1&&"), "1");
    EXPECT_EQ(Param("a", "%61=1"), "");
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

Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, v)) << text.substr(0, 200);
    return v;
}

TEST(BuildCallbackJson, AReplyOverTheBoundForPagesIsCutWhereItIsLongestAndSaysSo) {
    Json::Value data(Json::objectValue);
    data["room_id"] = "r1";
    data["speakers"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < 10; ++i) data["speakers"].append(i);
    Json::Value& members = data["members"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < 5000; ++i) members.append("member-" + std::to_string(1000 + i) + std::string(1000, '.'));
    std::string text = BuildCallbackJson(data, "_nim_join_room");
    EXPECT_LE(text.size(), kMaxPageCommandTextBytes);
    Json::Value r = Parse(text)["result"];
    EXPECT_EQ(r["cbfn"].asString(), "_nim_join_room");
    EXPECT_EQ(r["truncated"]["arrays"]["members"].asUInt(), 5000u);
    EXPECT_FALSE(r["truncated"]["arrays"].isMember("speakers")) << "only what had to be cut";
    EXPECT_GT(r["truncated"]["bytes"].asUInt64(), kMaxPageCommandTextBytes);
    EXPECT_GT(r["data"]["members"].size(), 3500u) << "most of what fits is kept";
    EXPECT_EQ(r["data"]["members"][0u].asString().substr(0, 11), "member-1000") << "the first ones";
    EXPECT_EQ(r["data"]["room_id"].asString(), "r1");
    EXPECT_EQ(r["data"]["speakers"].size(), 10u);

    // Arrays inside arrays are named by their place; with nothing to cut, only the size is told.
    Json::Value nested(Json::arrayValue);
    nested.append(Json::Value(Json::arrayValue));
    for (int i = 0; i < 5000; ++i) nested[0u].append(std::string(1000, 'x'));
    r = Parse(BuildCallbackJson(nested, "x"))["result"];
    EXPECT_EQ(r["truncated"]["arrays"]["0"].asUInt(), 5000u);
    EXPECT_LT(r["data"][0u].size(), 5000u);
    r = Parse(BuildCallbackJson(Json::Value(std::string(kMaxPageCommandTextBytes, 'y')), "big"))["result"];
    EXPECT_TRUE(r["data"].isNull());
    EXPECT_GT(r["truncated"]["bytes"].asUInt64(), kMaxPageCommandTextBytes);
    EXPECT_FALSE(r["truncated"].isMember("arrays"));
}

TEST(BuildRefusalJson, NamesTheCommandAndTheReasonUnderItsCallback) {
    EXPECT_EQ(BuildRefusalJson("_nim_enum_player", "_nim_enum_player", "busy"),
              "{\"result\":{\"cbfn\":\"_nim_enum_player\",\"data\":null,\"refused\":{\"command\":"
              "\"_nim_enum_player\",\"reason\":\"busy\"}}}\n");
    // A command without a callback is answered under its own name.
    EXPECT_NE(BuildRefusalJson("_nim_set_muted", "", "busy").find("\"cbfn\":\"_nim_set_muted\""), std::string::npos);
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
