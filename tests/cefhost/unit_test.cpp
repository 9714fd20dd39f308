// The browser host's pieces that need no engine: list values and their wire
// form, the VARIANT and page-value conversions, lenient text, the extension
// code rewriting, the prepared command line and the session-cookie file.
#include <JavaScriptCore/JavaScript.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "browser/launch_ledger.h"
#include "browser/mailto.h"
#include "engine/command_line.h"
#include "kxcef/cef3_manager.h"
#include "engine/session_cookies.h"
#include "kxcef/js_callback.h"
#include "launcher/bridge/cef_handler.h"
#include "platform/text.h"
#include "render/extension_code.h"
#include "render/js_values.h"
#include "tests/support/process.h"

namespace kxcef {
namespace {

// --- List values ----------------------------------------------------------------------------

TEST(ListValue, SettingPastTheEndGrowsWithNullEntries) {
    auto list = CefListValue::Create();
    list->SetInt(3, 7);
    ASSERT_EQ(list->GetSize(), 4u);
    EXPECT_EQ(list->GetType(0), VTYPE_NULL);
    EXPECT_EQ(list->GetType(3), VTYPE_INT);
    EXPECT_EQ(list->GetType(9), VTYPE_INVALID);
    EXPECT_EQ(list->GetInt(0), 0);
    list->SetDouble(1, -2.9);
    EXPECT_EQ(list->GetInt(1), -2);
    list->SetDouble(2, 1e300);
    EXPECT_EQ(list->GetInt(2), 0) << "an id out of int range is no id";
    EXPECT_DOUBLE_EQ(list->GetDouble(3), 7.0);
}

TEST(ListValue, StringsKeepNullsAndRepairBrokenText) {
    auto list = CefListValue::Create();
    list->SetString(0, std::wstring(L"a\0b\u4e2d", 4));
    EXPECT_EQ(list->GetString(0), std::wstring(L"a\0b\u4e2d", 4));
    EXPECT_EQ(list->GetStringUtf8(0), std::string("a\0b\xe4\xb8\xad", 6));
    list->SetStringUtf8(1, std::string("x\xed\xa0\x80y\xff", 6));  // an encoded surrogate and a stray byte
    EXPECT_EQ(list->GetString(1), L"x\uFFFDy\uFFFD");
    std::wstring bad(1, static_cast<wchar_t>(0xD800));
    list->SetString(2, bad);
    EXPECT_EQ(list->GetString(2), L"\uFFFD");
}

TEST(ListValue, AListCannotHoldItself) {
    auto list = CefListValue::Create();
    list->SetList(0, list);
    EXPECT_EQ(list->GetType(0), VTYPE_NULL);
}

// --- Wire format ---------------------------------------------------------------------------------

TEST(WireFormat, ListsRoundTripWithEveryEntryType) {
    auto list = CefListValue::Create();
    list->SetInt(0, -1);
    list->SetBool(1, true);
    list->SetDouble(2, 0.5);
    list->SetStringUtf8(3, std::string("n\0ul", 4));
    auto child = CefListValue::Create();
    child->SetInt(1, 9);
    list->SetList(4, child);
    list->SetNull(5);
    MessageExtras extras;
    extras.origin = "http://127.0.0.1:8080";
    extras.document = 0x8877665544332211ull;
    GVariant* v = EncodeMessageParams(*list, extras);
    auto back = CefListValue::Create();
    MessageExtras extrasBack;
    ASSERT_TRUE(DecodeMessageParams(v, *back, &extrasBack));
    g_variant_unref(v);
    ASSERT_EQ(back->GetSize(), 6u);
    EXPECT_EQ(back->GetInt(0), -1);
    EXPECT_TRUE(back->GetBool(1));
    EXPECT_DOUBLE_EQ(back->GetDouble(2), 0.5);
    EXPECT_EQ(back->GetStringUtf8(3), std::string("n\0ul", 4));
    ASSERT_EQ(back->GetType(4), VTYPE_LIST);
    EXPECT_EQ(back->GetList(4)->GetType(0), VTYPE_NULL);
    EXPECT_EQ(back->GetList(4)->GetInt(1), 9);
    EXPECT_EQ(back->GetType(5), VTYPE_NULL);
    EXPECT_EQ(extrasBack.origin, "http://127.0.0.1:8080");
    EXPECT_EQ(extrasBack.document, 0x8877665544332211ull);
}

TEST(WireFormat, NestingDeeperThanTheLimitTravelsAsNull) {
    auto top = CefListValue::Create();
    auto cur = top;
    for (int i = 0; i < kMaxListDepth + 10; ++i) {
        auto next = CefListValue::Create();
        cur->SetList(0, next);
        cur = next;
    }
    GVariant* v = EncodeMessageParams(*top, MessageExtras());
    auto back = CefListValue::Create();
    ASSERT_TRUE(DecodeMessageParams(v, *back, nullptr));
    g_variant_unref(v);
    int depth = 0;
    for (auto l = back; l && l->GetType(0) == VTYPE_LIST; l = l->GetList(0)) ++depth;
    EXPECT_EQ(depth, kMaxListDepth);
}

// The bytes of an encoded message (the wire form is "ay").
std::string Bytes(GVariant* v) {
    std::string out(static_cast<const char*>(g_variant_get_data(v)), g_variant_get_size(v));
    g_variant_unref(v);
    return out;
}

bool DecodeBytes(const std::string& bytes, CefListValue& list, const MessageLimits& limits = kPageCallLimits) {
    GVariant* v = g_variant_ref_sink(g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1));
    bool ok = DecodeMessageParams(v, list, nullptr, limits);
    g_variant_unref(v);
    return ok;
}

std::string U32(std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// version 1, document 0, empty origin, then the list.
std::string Message(const std::string& list) { return std::string("\x01", 1) + std::string(8, '\0') + U32(0) + list; }

TEST(WireFormat, ForeignOrMalformedParametersAreRejected) {
    auto list = CefListValue::Create();
    GVariant* other = g_variant_ref_sink(g_variant_new_string("hello"));
    EXPECT_FALSE(DecodeMessageParams(other, *list, nullptr));
    EXPECT_FALSE(DecodeMessageParams(nullptr, *list, nullptr));
    g_variant_unref(other);

    auto good = CefListValue::Create();
    good->SetInt(0, 5);
    good->SetStringUtf8(1, "text");
    std::string bytes = Bytes(EncodeMessageParams(*good, MessageExtras()));
    ASSERT_TRUE(DecodeBytes(bytes, *list));
    EXPECT_EQ(list->GetStringUtf8(1), "text");
    // Cut anywhere, or with a byte too many, a message does not decode and leaves nothing.
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(DecodeBytes(bytes.substr(0, cut), *list)) << cut;
        EXPECT_EQ(list->GetSize(), 0u);
    }
    EXPECT_FALSE(DecodeBytes(bytes + "n", *list));
    EXPECT_FALSE(DecodeBytes("\x02" + bytes.substr(1), *list)) << "another version";
    EXPECT_FALSE(DecodeBytes(Message(U32(1) + "?"), *list)) << "an unknown entry type";
    EXPECT_FALSE(DecodeBytes(Message(U32(1000) + "nn"), *list)) << "a count beyond the bytes";
    EXPECT_FALSE(DecodeBytes(Message(U32(1) + "s" + U32(0xffffffffu)), *list)) << "a text beyond the bytes";
}

TEST(WireFormat, MessagesBeyondTheLimitsDoNotDecode) {
    auto list = CefListValue::Create();
    std::string entries(kMaxMessageEntries, 'n');
    EXPECT_TRUE(DecodeBytes(Message(U32(kMaxMessageEntries) + entries), *list));
    EXPECT_EQ(list->GetSize(), kMaxMessageEntries);
    EXPECT_FALSE(DecodeBytes(Message(U32(kMaxMessageEntries + 1) + entries + "n"), *list));
    // Entries of nested lists count too.
    std::string nested = "l" + U32(kMaxMessageEntries - 1) + std::string(kMaxMessageEntries - 1, 'n');
    EXPECT_TRUE(DecodeBytes(Message(U32(1) + nested), *list));
    EXPECT_FALSE(DecodeBytes(Message(U32(2) + nested + "n"), *list));

    std::string text(kMaxMessageTextBytes / 2, 'x');
    std::string two = "s" + U32(text.size()) + text + "s" + U32(text.size()) + text;
    EXPECT_TRUE(DecodeBytes(Message(U32(2) + two), *list));
    EXPECT_FALSE(DecodeBytes(Message(U32(3) + two + "s" + U32(1) + "y"), *list));

    // Nesting the encoder never writes.
    std::string deep = U32(1);
    for (int i = 0; i <= kMaxListDepth; ++i) deep += "l" + U32(1);
    deep += "n";
    EXPECT_FALSE(DecodeBytes(Message(deep), *list));
}

TEST(WireFormat, WhatTheClientSendsAPageHasABoundOfItsOwn) {
    // A reply far over what a page may send (a large room's members) decodes
    // where the page's web process reads it; one byte over its own bound does not.
    auto list = CefListValue::Create();
    list->SetInt(0, -1);
    list->SetStringUtf8(1, std::string(kMaxPageCommandTextBytes, 'm'));
    EXPECT_TRUE(FitsLimits(*list, kToPageLimits));
    EXPECT_FALSE(FitsLimits(*list, kPageCallLimits));
    std::string bytes = Bytes(EncodeMessageParams(*list, MessageExtras()));
    auto back = CefListValue::Create();
    EXPECT_TRUE(DecodeBytes(bytes, *back, kToPageLimits));
    EXPECT_EQ(back->StringUtf8(1)->size(), kMaxPageCommandTextBytes);
    EXPECT_FALSE(DecodeBytes(bytes, *back)) << "a page's own call stays held to 256 KiB";
    // Text in nested lists counts alike.
    auto nested = CefListValue::Create();
    nested->SetStringUtf8(0, "x");
    list->SetList(2, nested);
    EXPECT_FALSE(FitsLimits(*list, kToPageLimits));
    EXPECT_FALSE(DecodeBytes(Bytes(EncodeMessageParams(*list, MessageExtras())), *back, kToPageLimits));
}

// --- List entries and VARIANTs ----------------------------------------------------------------

TEST(VariantConvert, ListEntriesBecomeVariantsByType) {
    auto list = CefListValue::Create();
    list->SetBool(0, true);
    list->SetInt(1, 5);
    list->SetDouble(2, 1.5);
    list->SetStringUtf8(3, "s\xe4\xb8\xad");
    list->SetList(4, CefListValue::Create());
    list->SetNull(5);
    std::vector<VARIANT> v;
    for (size_t i = 0; i < 6; ++i) v.push_back(ListEntryToVariant(*list, i));
    EXPECT_EQ(v[0].vt, VT_BOOL);
    EXPECT_EQ(v[0].boolVal, 1);
    EXPECT_EQ(v[1].vt, VT_I4);
    EXPECT_EQ(v[1].lVal, 5);
    EXPECT_EQ(v[2].vt, VT_R8);
    EXPECT_EQ(v[3].vt, VT_BSTR);
    EXPECT_EQ(platform::VariantText(v[3]), L"s\u4e2d");
    EXPECT_EQ(v[4].vt, VT_EMPTY);
    EXPECT_EQ(v[5].vt, VT_EMPTY);
    ClearVariants(v);
    EXPECT_TRUE(v.empty());
}

TEST(VariantConvert, VariantsBecomeListEntriesAndOthersSetNothing) {
    std::vector<VARIANT> in(7);
    for (auto& v : in) VariantInit(&v);
    in[0].vt = VT_I4, in[0].lVal = -3;
    in[1].vt = VT_UINT, in[1].uintVal = 4000000000u;
    in[2].vt = VT_BOOL, in[2].boolVal = -1;
    in[3].vt = VT_R8, in[3].dblVal = 2.25;
    in[4] = platform::MakeBstrVariant(std::wstring(L"a\0b", 3));
    in[5].vt = VT_DATE, in[5].date = 1;
    in[6].vt = VT_DISPATCH;
    auto list = CefListValue::Create();
    for (size_t i = 0; i < in.size(); ++i) VariantToListEntry(in[i], *list, i + 1);
    EXPECT_EQ(list->GetSize(), 6u) << "trailing unconvertible values leave the list shorter";
    EXPECT_EQ(list->GetInt(1), -3);
    EXPECT_EQ(list->GetInt(2), static_cast<int>(4000000000u));
    EXPECT_TRUE(list->GetBool(3));
    EXPECT_DOUBLE_EQ(list->GetDouble(4), 2.25);
    EXPECT_EQ(list->GetString(5), std::wstring(L"a\0b", 3));
    VariantClear(&in[4]);
}

// --- Extension code ------------------------------------------------------------------------------

TEST(ExtensionCode, TheWebAppCodeIsExactAndItsNativesAreFound) {
    EXPECT_EQ(std::strlen(kWebAppExtensionCode), 363u);
    EXPECT_EQ(std::strlen(QNInterface::QNCEF::CQNCefHandler::kSyncObjectCode), 217u);
    EXPECT_EQ(std::strlen(QNInterface::QNCEF::CQNCefHandler::kAsyncObjectCode), 221u);
    RewrittenExtension r = RewriteNativeDeclarations(kWebAppExtensionCode, "H");
    EXPECT_EQ(r.natives, (std::vector<std::string>{"SendCPPTask", "PostCPPTask"}));
    EXPECT_EQ(r.code.find("native function"), std::string::npos);
    EXPECT_NE(r.code.find("var SendCPPTask = H.SendCPPTask;"), std::string::npos);
    RewrittenExtension plain = RewriteNativeDeclarations("var nativeness = 1; // native function", "H");
    EXPECT_TRUE(plain.natives.empty());
    EXPECT_EQ(plain.code, "var nativeness = 1; // native function");
}

class JsTest : public ::testing::Test {
protected:
    void SetUp() override { context_ = JSGlobalContextCreate(nullptr); }
    void TearDown() override { JSGlobalContextRelease(context_); }
    JSValueRef Eval(const char* code) {
        JsString script(code);
        JSValueRef exception = nullptr;
        JSValueRef v = JSEvaluateScript(context_, script.get(), nullptr, nullptr, 1, &exception);
        EXPECT_EQ(exception, nullptr) << code;
        return v;
    }
    std::string Text(JSValueRef v) { return JsStringUtf8(context_, v); }
    JSObjectRef Object(JSValueRef v) { return JSValueToObject(context_, v, nullptr); }
    void SetGlobal(const char* name, JSValueRef v) {
        JsString n(name);
        JSObjectSetProperty(context_, JSContextGetGlobalObject(context_), n.get(), v, 0, nullptr);
    }
    JSGlobalContextRef context_ = nullptr;
};

TEST_F(JsTest, RewrittenExtensionsCallTheirNativesWithTheCallbackFirst) {
    Eval("var calls=[];var H={PostCPPTask:function(){calls.push([].slice.call(arguments));return 1;},"
         "SendCPPTask:function(a,b){return a+b;}};H");
    RewrittenExtension r = RewriteNativeDeclarations(kWebAppExtensionCode, "H");
    Eval(r.code.c_str());
    JSValueRef v = Eval("KXWebApp.PostCPPTask('a','b');var f=function(){};KXWebApp.PostCPPTask('c','d',f);"
                        "[calls[0][0]===_dummyCallback, calls[0][1], calls[0][2], calls[1][0]===f,"
                        " KXWebApp.SendCPPTask('x','y')].join()");
    EXPECT_EQ(Text(v), "true,a,b,true,xy");
}

TEST_F(JsTest, PageValuesBecomeListEntries) {
    JSObjectRef arr = Object(Eval("[[1,[2.5,'x',[true]]], {a:1}, null, undefined, -0, 2147483648, NaN, 'a\\u0000b',"
                                  " 'x\\ud800y', function(){}, 7, '\\udc00\\u4e2d\\ud83d\\ude00\\ud83d']"));
    auto list = CefListValue::Create();
    CallBudget budget;
    for (unsigned i = 0; i < 12; ++i)
        EXPECT_TRUE(JsToListEntry(context_, JSObjectGetPropertyAtIndex(context_, arr, i, nullptr), *list, i, budget));
    ASSERT_EQ(list->GetSize(), 12u);
    auto nested = list->GetList(0);
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->GetInt(0), 1);
    auto inner = nested->GetList(1);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->GetType(0), VTYPE_DOUBLE);
    EXPECT_EQ(inner->GetStringUtf8(1), "x");
    EXPECT_TRUE(inner->GetList(2)->GetBool(0));
    for (int i : {1, 2, 3, 9}) EXPECT_EQ(list->GetType(i), VTYPE_NULL) << i;
    EXPECT_EQ(list->GetType(4), VTYPE_DOUBLE) << "-0 is no int";
    EXPECT_EQ(list->GetType(5), VTYPE_DOUBLE);
    EXPECT_EQ(list->GetType(6), VTYPE_DOUBLE);
    EXPECT_EQ(list->GetStringUtf8(7), std::string("a\0b", 3));
    EXPECT_EQ(list->GetString(8), L"x\uFFFDy");
    EXPECT_EQ(list->GetInt(10), 7);
    // Unpaired surrogates at either end, a pair in between.
    EXPECT_EQ(list->GetStringUtf8(11), "\xEF\xBF\xBD\xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST_F(JsTest, DeepAndCyclicArraysAreCutAtTheDepthLimit) {
    JSValueRef deep = Eval("var a=[];for(var i=0;i<10000;i++)a=[a];a");
    JSValueRef cyclic = Eval("var c=[1];c.push(c);c");
    auto list = CefListValue::Create();
    CallBudget budget;
    EXPECT_TRUE(JsToListEntry(context_, deep, *list, 0, budget));
    EXPECT_TRUE(JsToListEntry(context_, cyclic, *list, 1, budget));
    int depth = 0;
    for (auto l = list->GetList(0); l; l = l->GetList(0)) ++depth;
    EXPECT_EQ(depth, kMaxListDepth);
    int cycles = 0;
    for (auto l = list->GetList(1); l; l = l->GetList(1)) ++cycles;
    EXPECT_EQ(cycles, kMaxListDepth);
}

TEST_F(JsTest, AValueBeyondTheMessageLimitsIsRefusedAndSpendsTheBudget) {
    struct Case {
        const char* code;
        const char* why;
    } cases[] = {
        {"var s=[];s[4000000000]=1;s", "a sparse array counts by its length"},
        {"new Array(1000000).fill(0)", "a million elements"},
        {"var w=[];for(var i=0;i<300;i++)w.push(w);w", "a wide cyclic array multiplies"},
        {"'x'.repeat(262145)", "one byte of text too many"},
        {"var t=[];for(var i=0;i<3;i++)t.push('y'.repeat(100000));t", "text adds up across elements"},
    };
    for (const Case& c : cases) {
        JSValueRef v = Eval(c.code);
        auto list = CefListValue::Create();
        CallBudget budget;
        EXPECT_FALSE(JsToListEntry(context_, v, *list, 0, budget)) << c.why;
        EXPECT_TRUE(budget.exceeded) << c.why;
        // Once spent, the budget refuses the smallest value too.
        EXPECT_FALSE(JsToListEntry(context_, Eval("1"), *list, 1, budget)) << c.why;
    }
    // Right at the limits a value still fits.
    auto list = CefListValue::Create();
    CallBudget budget;
    EXPECT_TRUE(JsToListEntry(context_, Eval("[new Array(16382).fill(0)]"), *list, 0, budget));
    EXPECT_EQ(budget.entries, 0u);
    CallBudget textBudget;
    EXPECT_TRUE(JsToListEntry(context_, Eval("'z'.repeat(262144)"), *list, 1, textBudget));
    EXPECT_EQ(list->GetStringUtf8(1).size(), kMaxMessageTextBytes);
}

TEST_F(JsTest, ListEntriesAndVariantsBecomePageValues) {
    auto list = CefListValue::Create();
    list->SetBool(0, true);
    list->SetInt(1, 3);
    list->SetDouble(2, 0.5);
    list->SetStringUtf8(3, std::string("q\0r", 3));
    auto child = CefListValue::Create();
    child->SetInt(0, 1);
    child->SetNull(1);
    list->SetList(4, child);
    list->SetNull(5);
    list->SetStringUtf8(6, "\xE4\xB8\xAD\xF0\x9F\x98\x80\xFF");
    JSObjectRef arr = JSObjectMakeArray(context_, 0, nullptr, nullptr);
    for (size_t i = 0; i < 7; ++i)
        JSObjectSetPropertyAtIndex(context_, arr, static_cast<unsigned>(i), ListEntryToJs(context_, *list, i), nullptr);
    SetGlobal("v", arr);
    EXPECT_EQ(Text(Eval("JSON.stringify(v.slice(0,6))+'|'+v[3].length+'|'+v[6].length")),
              "[true,3,0.5,\"q\\u0000r\",[1,null],null]|3|4");
    EXPECT_EQ(Text(Eval("v[6]")), "\xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBD");

    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = 5;
    JSValueRef jb = VariantToJs(context_, b);
    EXPECT_TRUE(JSValueIsBoolean(context_, jb) && JSValueToBoolean(context_, jb));
    VARIANT d;
    VariantInit(&d);
    d.vt = VT_DATE;
    EXPECT_EQ(VariantToJs(context_, d), nullptr);
    VARIANT s = platform::MakeBstrVariant(std::wstring(L"a\0\U0001F600", 3));
    SetGlobal("s", VariantToJs(context_, s));
    EXPECT_EQ(Text(Eval("s.length+':'+s.charCodeAt(1)+':'+s.codePointAt(2)")), "4:0:128512");
    VariantClear(&s);
}

TEST_F(JsTest, PageValuesBecomeVariants) {
    VARIANT vn = JsToVariant(context_, Eval("5")), vt = JsToVariant(context_, Eval("true"));
    VARIANT vs = JsToVariant(context_, Eval("'\\u4e2d\\ud800!\\ud83d\\ude00'"));
    VARIANT vo = JsToVariant(context_, Eval("({})"));
    EXPECT_EQ(vn.vt, VT_R8) << "every number is a double";
    EXPECT_DOUBLE_EQ(vn.dblVal, 5);
    EXPECT_EQ(vt.vt, VT_BOOL);
    EXPECT_EQ(vt.boolVal, 1);
    EXPECT_EQ(vs.vt, VT_BSTR);
    EXPECT_EQ(platform::VariantText(vs), L"\u4e2d\uFFFD!\U0001F600");
    EXPECT_EQ(vo.vt, VT_EMPTY);
    VariantClear(&vs);
}

TEST_F(JsTest, ManyArgumentsStayAliveThroughCollections) {
    JsArguments args;
    for (int i = 0; i < 40; ++i) args.Add(context_, NewJsString(context_, "argument " + std::to_string(i)));
    JSGarbageCollect(context_);
    Eval("var big=[];for(var i=0;i<20000;i++)big.push({i:i,s:'x'+i});big=null;");
    JSGarbageCollect(context_);
    ASSERT_EQ(args.size(), 40u);
    JSObjectRef join = Object(Eval("(function(){return [].join.call(arguments,',');})"));
    JSValueRef joined = JSObjectCallAsFunction(context_, join, nullptr, args.size(), args.data(), nullptr);
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += (i ? "," : "") + std::string("argument ") + std::to_string(i);
    EXPECT_EQ(Text(joined), expected);
}

// --- Delegates -----------------------------------------------------------------------------------

class Target : public CJSCallbackHandler {
public:
    bool OnSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) override { return true; }
    bool OnAsynJsEvent(int, const std::string&, std::vector<VARIANT>&) override { return ++calls, true; }
    bool OnPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) override {
        return true;
    }
    void OnJsCommandResult(int, const std::string&, const std::string&, VARIANT*) override {}
    int calls = 0;
};

TEST(Delegates, EqualDelegatesAreAddedOnce) {
    Target a, b;
    using D = CCEF3JSDelegate<CJSCallbackHandler, CJSCallbackHandler>;
    CCEF3JSDelegateList list;
    EXPECT_TRUE(list.Add(D(&a, &CJSCallbackHandler::OnAsynJsEvent)));
    EXPECT_FALSE(list.Add(D(&a, &CJSCallbackHandler::OnAsynJsEvent)));
    EXPECT_TRUE(list.Add(D(&a, &CJSCallbackHandler::OnSyncJsCall)));
    EXPECT_TRUE(list.Add(D(&b, &CJSCallbackHandler::OnAsynJsEvent)));
    EXPECT_FALSE(list.Add(CCEF3JSDelegateBase()));
    EXPECT_EQ(list.size(), 3u);
    std::vector<VARIANT> none;
    EXPECT_TRUE(list.items()[0]->InvokeAsynJsEvent(1, "n", none));
    EXPECT_FALSE(list.items()[1]->InvokeAsynJsEvent(1, "n", none)) << "bound to another operation";
    EXPECT_EQ(a.calls, 1);
}

// --- Command line --------------------------------------------------------------------------------

TEST(CommandLine, TheGpuRuleFollowsTheRegistryAndTheSwitchesMapToTheEngine) {
    qmtest::TempDir dir;
    std::string reg = dir.File("m.reg");
    qmtest::WriteFile(reg, "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\n\"DisableGPU\"=dword:00000001\n");
    setenv("QM_REGISTRY_FILE", reg.c_str(), 1);
    std::vector<std::string> line = PrepareCommandLine({{"b", "2"}, {"a", ""}});
    unsetenv("QM_REGISTRY_FILE");
    std::vector<std::string> expected{"--no-proxy-server", "enable-media-stream=1", "disable-gpu",
                                      "disable-gpu-compositing", "a=", "b=2", "--expose-gc", "--disable-extensions",
                                      "ppapi-flash-path=PepperFlash\\pepflashplayer.dll",
                                      "ppapi-flash-version=20.0.0.306", "--ignore-certificate-errors"};
    EXPECT_EQ(line, expected);
    EngineSwitches s = InterpretCommandLine(line);
    EXPECT_TRUE(s.noProxy);
    EXPECT_TRUE(s.mediaStream);
    EXPECT_TRUE(s.disableGpu);
    EXPECT_TRUE(s.certificateExceptions.empty()) << "the switch in the line ignores no TLS error";
    EXPECT_FALSE(InterpretCommandLine({"enable-media-stream=0"}).mediaStream);
}

TEST(CommandLine, CertificateExceptionsNameTheirHostsOnly) {
    std::string pin(64, 'a');
    EngineSwitches s = InterpretCommandLine(
        PrepareCommandLine({{kCertificateExceptionsSwitch, "front.test=" + pin + ",,=x,bad=,[::1]=any"}}));
    std::map<std::string, std::string> expected{{"front.test", pin}, {"[::1]", "any"}};
    EXPECT_EQ(s.certificateExceptions, expected);
}

TEST(CommandLine, LaunchSchemesAreListedInLowerCaseOnce) {
    EngineSwitches s = InterpretCommandLine(PrepareCommandLine({{kLaunchSchemesSwitch, "Example-App,,steam,example-app"}}));
    EXPECT_EQ(s.launchSchemes, (std::vector<std::string>{"example-app", "steam"}));
    EXPECT_TRUE(InterpretCommandLine(PrepareCommandLine({})).launchSchemes.empty());
}

// --- Who may have the desktop open an address ------------------------------------------------------

class LedgerTest : public ::testing::Test {
protected:
    using Kind = LaunchLedger::Kind;
    static constexpr std::uint64_t kFront = 1, kFrontFrame = 2, kForeign = 3;
    const std::string front_ = "https://front.test", foreign_ = "https://evil.test";
    LaunchLedger ledger_{[this](const std::string& o) { return o == front_; }};
    LaunchLedger::Clock::time_point t_ = LaunchLedger::Clock::now();

    bool Launch(const std::string& url, Kind kind = Kind::Popup, bool gesture = true,
                std::chrono::milliseconds after = std::chrono::milliseconds(10)) {
        LaunchLedger::Verdict v = ledger_.Decide(url, kind, gesture, t_ + after);
        why_ = v.why;
        if (v.allowed) ledger_.Consume(v, url);
        return v.allowed;
    }
    std::string why_;
};

TEST_F(LedgerTest, TheFrontEndAloneLaunchesOncePerActionOfItsOwn) {
    ledger_.NoteMainDocument(kFront, front_, false);
    EXPECT_FALSE(Launch("example-app://open", Kind::Navigation)) << "no action yet";
    ledger_.NoteAction(kFront, front_, t_);
    // A navigation set from script names no document; every document is the front-end's.
    EXPECT_TRUE(Launch("example-app://open", Kind::Navigation)) << why_;
    EXPECT_FALSE(Launch("example-app://again", Kind::Navigation)) << "the action is used up";
    ledger_.NoteAction(kFront, front_, t_ + std::chrono::milliseconds(500));
    EXPECT_FALSE(Launch("mailto:a@b", Kind::Popup, false, std::chrono::milliseconds(600))) << "no engine gesture";
    EXPECT_TRUE(Launch("mailto:a@b", Kind::Popup, true, std::chrono::milliseconds(600)));
    // An action counts for what it sets off right away.
    ledger_.NoteAction(kFront, front_, t_ + std::chrono::seconds(1));
    EXPECT_FALSE(Launch("mailto:a@b", Kind::Popup, true, std::chrono::seconds(4)));
}

TEST_F(LedgerTest, WithAForeignDocumentInThePageOnlyTheDocumentThatAskedCounts) {
    ledger_.NoteMainDocument(kFront, front_, false);
    ledger_.NoteFrameDocument(foreign_);
    ledger_.NoteAction(kFront, front_, t_);
    // The user clicked the front-end; the foreign frame asks (blur, timer).
    EXPECT_FALSE(Launch("mailto:x@y", Kind::Popup)) << "unnamed: the foreign frame may have asked";
    ledger_.NoteIntent(kForeign, foreign_, "mailto:x@y", t_);
    EXPECT_FALSE(Launch("mailto:x@y"));
    EXPECT_NE(why_.find("not the front-end"), std::string::npos) << why_;
    // The front-end's own request names it; a foreign one for another address does not borrow it.
    ledger_.NoteIntent(kFront, front_, "https://front.test/help", t_);
    EXPECT_FALSE(Launch("https://evil.test/", Kind::Popup));
    EXPECT_TRUE(Launch("https://front.test/help", Kind::Popup)) << why_;
    // A same-origin frame of the front-end asks under its own action only.
    ledger_.NoteFrameDocument(front_);
    ledger_.NoteIntent(kFrontFrame, front_, "https://front.test/a", t_);
    EXPECT_FALSE(Launch("https://front.test/a"));
    ledger_.NoteAction(kFrontFrame, front_, t_);
    ledger_.NoteIntent(kFrontFrame, front_, "https://front.test/a", t_);
    EXPECT_TRUE(Launch("https://front.test/a")) << why_;
    // Downloads follow the same rule, without the engine's word.
    ledger_.NoteAction(kForeign, foreign_, t_);
    ledger_.NoteIntent(kForeign, foreign_, "https://evil.test/x.bin", t_);
    EXPECT_FALSE(Launch("https://evil.test/x.bin", Kind::Download, false));
}

TEST_F(LedgerTest, AForeignPageFramingTheFrontEndLaunchesNothingAndANewMainDocumentStartsAfresh) {
    ledger_.NoteMainDocument(kForeign, foreign_, false);
    ledger_.NoteFrameDocument(front_);
    ledger_.NoteAction(kFrontFrame, front_, t_);
    EXPECT_FALSE(Launch("mailto:x@y")) << "the framing page's blur handler";
    EXPECT_TRUE(ledger_.foreignSeen());
    // The front-end comes back from the page cache: its old frames may be back too.
    ledger_.NoteMainDocument(kFront, front_, true);
    EXPECT_TRUE(ledger_.foreignSeen());
    // A new front-end document replaces every frame.
    ledger_.NoteMainDocument(kFront + 10, front_, false);
    EXPECT_FALSE(ledger_.foreignSeen());
    ledger_.NoteAction(kFront + 10, front_, t_);
    EXPECT_TRUE(Launch("mailto:x@y")) << why_;
}

TEST(Mailto, OnlyTheFieldsOfAMessageGoOn) {
    std::vector<std::string> removed;
    EXPECT_EQ(SanitizeMailto("mailto:x@y?attach=/etc/passwd&attachment=file:///etc/shadow&subject=Hi%20there", &removed),
              "mailto:x@y?subject=Hi%20there");
    EXPECT_EQ(removed, (std::vector<std::string>{"attach", "attachment"}));
    // Names in any case or spelled as escapes are what a mail client reads.
    removed.clear();
    EXPECT_EQ(SanitizeMailto("MAILTO:x@y?%61ttach=/a&ATTACH=/b&To=z@w&CC=c@d&bcc=e@f&Body=a;attach=/c#frag", &removed),
              "mailto:x@y?to=z%40w&cc=c%40d&bcc=e%40f&body=a%3Battach%3D%2Fc");
    EXPECT_EQ(removed, (std::vector<std::string>{"#", "attach", "ATTACH"}));
    // A field without a value, and empty ones, do not go on.
    removed.clear();
    EXPECT_EQ(SanitizeMailto("mailto:?attach&&subject=", &removed), "mailto:?subject=");
    EXPECT_EQ(removed, std::vector<std::string>{"attach"});
    EXPECT_EQ(SanitizeMailto("mailto:x@y", nullptr), "mailto:x@y");
    EXPECT_EQ(SanitizeMailto("mailto:x@y?", nullptr), "mailto:x@y");
    // A NUL in a value, escaped or not, goes on escaped: a mail client that
    // reads the address as a C string must not see it end there.
    EXPECT_EQ(SanitizeMailto("mailto:x@y?body=a%00b", nullptr), "mailto:x@y?body=a%00b");
    EXPECT_EQ(SanitizeMailto(std::string("mailto:x@y?body=a\0b&subject=s", 29), nullptr),
              "mailto:x@y?body=a%00b&subject=s");
}

// --- Session cookies -------------------------------------------------------------------------------

TEST(SessionCookies, OnlySessionCookiesAreKeptAndBadFilesGiveNone) {
    SoupCookie* session = soup_cookie_new("s", "1", "127.0.0.1", "/", -1);
    soup_cookie_set_http_only(session, TRUE);
    SoupCookie* persistent = soup_cookie_new("p", "2", "127.0.0.1", "/", 3600);
    GList* cookies = g_list_append(g_list_append(nullptr, session), persistent);
    std::string bytes = SerializeSessionCookies(cookies);
    g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(&soup_cookie_free));
    std::vector<SoupCookie*> back = ParseSessionCookies(bytes);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_STREQ(soup_cookie_get_name(back[0]), "s");
    EXPECT_STREQ(soup_cookie_get_value(back[0]), "1");
    EXPECT_TRUE(soup_cookie_get_http_only(back[0]));
    EXPECT_EQ(soup_cookie_get_expires(back[0]), nullptr);
    for (SoupCookie* c : back) soup_cookie_free(c);
    EXPECT_TRUE(ParseSessionCookies(std::string("\x01\x02garbage", 9)).empty());
    EXPECT_TRUE(ParseSessionCookies("").empty());
}

}  // namespace
}  // namespace kxcef
