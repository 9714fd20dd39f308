// Which pages may use the client: origins of addresses as the engine writes
// them, the launcher's list of front-end origins, and the bridge handler that
// refuses every other caller.
#include <gtest/gtest.h>

#include "common/log_record.h"
#include "kxcef/cef3_handler.h"
#include "launcher/bridge/web_wnd_manager.h"
#include "launcher/front_end_origins.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/fake_web_wnd.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"

namespace {

using QNInterface::QNCEF::QNWebWndManager;

TEST(OriginOfAddress, WritesSchemeHostAndPortTheWayTheEngineDoes) {
    EXPECT_EQ(OriginOfAddress("http://127.0.0.1:8000/index.html?a=b#c"), "http://127.0.0.1:8000");
    EXPECT_EQ(OriginOfAddress("HTTPS://Web.Example.COM/x"), "https://web.example.com");
    EXPECT_EQ(OriginOfAddress("https://web.example:443/"), "https://web.example") << "default port";
    EXPECT_EQ(OriginOfAddress("http://web.example:80"), "http://web.example");
    EXPECT_EQ(OriginOfAddress("http://web.example:443/"), "http://web.example:443");
    EXPECT_EQ(OriginOfAddress("http://h:0080/"), "http://h") << "leading zeros";
    EXPECT_EQ(OriginOfAddress("http://user:pw@h:81/"), "http://h:81") << "no user information";
    EXPECT_EQ(OriginOfAddress("http://[::1]:8080/p"), "http://[::1]:8080");
    EXPECT_EQ(OriginOfAddress("http://h?inner=pc"), "http://h");
}

// Spellings of one host that a hand-written parser kept apart from the origin
// of the document the engine loads, so that a front-end given in one of them
// was refused its own page commands.
TEST(OriginOfAddress, HostsAreWrittenInTheEnginesCanonicalForm) {
    EXPECT_EQ(OriginOfAddress("https://B\xc3\xbc" "cher.Example/"), "https://xn--bcher-kva.example") << "punycode";
    EXPECT_EQ(OriginOfAddress("http://%41b.example/"), "http://ab.example") << "escapes in the host";
    EXPECT_EQ(OriginOfAddress("http://127.1:8000/"), "http://127.0.0.1:8000") << "short IPv4";
    EXPECT_EQ(OriginOfAddress("http://0x7f.0.0.1/"), "http://127.0.0.1") << "hexadecimal IPv4";
    EXPECT_EQ(OriginOfAddress("http://2130706433/"), "http://127.0.0.1") << "IPv4 as one number";
    EXPECT_EQ(OriginOfAddress("http://[0:0::1]/"), "http://[::1]") << "IPv6 compressed";
    EXPECT_EQ(OriginOfAddress("http://web\t.example/"), "http://web.example") << "tabs are skipped";
    EXPECT_EQ(OriginOfAddress(" http://web.example/ "), "http://web.example") << "outer spaces are trimmed";
}

TEST(OriginOfAddress, AddressesWithoutAHostOrWithABadPortHaveNone) {
    for (const char* address : {"", "file:///tmp/x.html", "about:blank", "127.0.0.1:8000/x", "http://",
                                "http://:80/", "http://h:99999/", "http://h:8a/", "http://[::1/", "://h/",
                                "1http://h/", "http://h x/", "http://h%2Fx/", "blob:http://h/uuid"}) {
        EXPECT_EQ(OriginOfAddress(address), "") << address;
    }
    EXPECT_EQ(OriginOfAddress(std::string("http://h\0.example/", 18)), "") << "a NUL inside";
}

TEST(FrontEndOrigins, StartAddressFirstThenEveryDeployedFrontEndOnce) {
    DeployConfig deploy;
    deploy.frontendDefault = L"Rawen.Example.com";
    deploy.frontendS1 = L"127.0.0.1:9000";
    deploy.frontendS1Test = L"rawen.example.com";  // the same origin once
    std::vector<std::string> origins =
        FrontEndOrigins(CCmdLineParser(L"*cid:1 *url:\"http://127.0.0.1:8000/a\""), deploy);
    std::vector<std::string> expected{"http://127.0.0.1:8000", "https://127.0.0.1:8000", "https://rawen.example.com",
                                      "https://127.0.0.1:9000"};
    EXPECT_EQ(origins, expected);
}

TEST(FrontEndOrigins, AnHttpFrontEndMayUpgradeToHttpsOfTheSameHostAndPortOnly) {
    DeployConfig none;
    // The default port goes to the default port; another port stays itself.
    EXPECT_EQ(FrontEndOrigins(CCmdLineParser(L"*url:\"http://Front.Example:80/x\""), none),
              (std::vector<std::string>{"http://front.example", "https://front.example"}));
    EXPECT_EQ(FrontEndOrigins(CCmdLineParser(L"*url:\"http://front.example:443/\""), none),
              (std::vector<std::string>{"http://front.example:443", "https://front.example"}));
    EXPECT_EQ(FrontEndOrigins(CCmdLineParser(L"*url:\"https://front.example:8443/\""), none),
              std::vector<std::string>{"https://front.example:8443"})
        << "no way down to http";
}

TEST(FrontEndOrigins, Url2IsDecodedAndUrlWinsOverIt) {
    DeployConfig none;
    EXPECT_EQ(FrontEndOrigins(CCmdLineParser(L"*url2:\"http%3A%2F%2F127.0.0.1%3A81%2Fx\""), none),
              (std::vector<std::string>{"http://127.0.0.1:81", "https://127.0.0.1:81"}));
    EXPECT_EQ(FrontEndOrigins(CCmdLineParser(L"*url2:\"http%3A%2F%2Fb%2F\" *url:\"http://a/\""), none),
              (std::vector<std::string>{"http://a", "https://a"}));
    EXPECT_TRUE(FrontEndOrigins(CCmdLineParser(L"*cid:83302ACB1052"), none).empty());
}

class Args {
public:
    Args(const std::wstring& name, const std::wstring& text) {
        VARIANT id;
        VariantInit(&id);
        id.vt = VT_I4;
        id.lVal = -1;
        v.push_back(id);
        v.push_back(platform::MakeBstrVariant(name));
        v.push_back(platform::MakeBstrVariant(text));
    }
    ~Args() {
        for (VARIANT& x : v) VariantClear(&x);
    }
    std::vector<VARIANT> v;
};

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        qmlog::SetExecutablePathForTesting(platform::FromNativePath(dir_.File("qm_main")));
        qmlog::ResetForTesting();
        manager_.AddWebWnd(&wnd_);
        manager_.AllowOrigin("http://127.0.0.1:8000");
    }
    void TearDown() override {
        manager_.RemoveWebWnd(&wnd_);
        qmlog::ResetForTesting();
        qmlog::SetExecutablePathForTesting(L"");
    }
    bool Call(const std::string& origin, const std::wstring& name = L"_get_client_info") {
        Args a(name, L"");
        return manager_.OnAsynJsEventFrom(7, "VantorCommunicateAsyn", a.v, origin);
    }
    qmtest::TempDir dir_;
    QNWebWndManager manager_;
    qmtest::FakeWebWnd wnd_{7};
};

TEST_F(ManagerTest, OnlyTheAllowedOriginReachesTheWindowAndEveryRefusalIsLogged) {
    EXPECT_TRUE(Call("http://127.0.0.1:8000"));
    EXPECT_TRUE(Call("http://127.0.0.1:8001"));        // another port
    EXPECT_TRUE(Call("https://127.0.0.1:8000"));       // another scheme
    EXPECT_TRUE(Call("null"));                         // a document without a host
    EXPECT_TRUE(Call(""));                             // unknown
    EXPECT_EQ(wnd_.DispatchedNames(), std::vector<std::string>{"_get_client_info"});
    EXPECT_EQ(manager_.RefusedCount(), 4u);
    std::string log = qmtest::DailyLogs(dir_.path());
    EXPECT_NE(log.find("page call \"_get_client_info\" from origin http://127.0.0.1:8001 refused"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("from origin (unknown) refused"), std::string::npos);
}

TEST_F(ManagerTest, TheOldSlotWithoutAnOriginIsRefusedAndNullIsNeverAllowed) {
    Args a(L"_min_window", L"");
    EXPECT_TRUE(manager_.OnAsynJsEvent(7, "VantorCommunicateAsyn", a.v));
    manager_.AllowOrigin("null");
    manager_.AllowOrigin("");
    EXPECT_TRUE(Call("null"));
    EXPECT_TRUE(wnd_.DispatchedNames().empty());
    EXPECT_FALSE(manager_.IsAllowedOrigin("null"));
    EXPECT_FALSE(manager_.IsAllowedOrigin(""));
    // Replies, events and system launches follow the same list.
    CJSCallbackHandler& handler = manager_;
    EXPECT_FALSE(handler.TrustsPageOrigin("null"));
    EXPECT_FALSE(handler.TrustsPageOrigin("http://evil.example"));
    EXPECT_TRUE(handler.TrustsPageOrigin("http://127.0.0.1:8000"));
}

TEST_F(ManagerTest, CallsWithoutACommandNameAreNeitherDispatchedNorLogged) {
    Args postTask(L"", L"x");
    EXPECT_TRUE(manager_.OnAsynJsEventFrom(7, "PostCPPTask", postTask.v, "http://evil.example"));
    std::vector<VARIANT> two(postTask.v.begin(), postTask.v.begin() + 2);
    EXPECT_TRUE(manager_.OnAsynJsEventFrom(7, "VantorCommunicateAsyn", two, "http://evil.example"));
    EXPECT_EQ(manager_.RefusedCount(), 0u);
    EXPECT_TRUE(wnd_.DispatchedNames().empty());
}

TEST_F(ManagerTest, AFloodOfForeignCallsWritesABoundedNumberOfSafeLines) {
    for (int i = 0; i < 300; ++i) Call("http://evil.example", L"_nim_login\r\n[forged line]" + std::wstring(300, L'x'));
    EXPECT_EQ(manager_.RefusedCount(), 300u);
    std::string log = qmtest::DailyLogs(dir_.path());
    size_t lines = 0;
    for (size_t p = log.find("refused: not the front-end"); p != std::string::npos;
         p = log.find("refused: not the front-end", p + 1))
        ++lines;
    EXPECT_EQ(lines, RefusalLogBudget::kLines);
    EXPECT_EQ(log.find("\r\n[forged line]"), std::string::npos) << "page text cannot start a log line";
    EXPECT_NE(log.find("_nim_login\\r\\n[forged line]xxx"), std::string::npos);
}

// --- The browser host hands the origin to the handler ---------------------------------

class OriginRecorder : public CJSCallbackHandler {
public:
    bool OnSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) override { return true; }
    bool OnAsynJsEvent(int, const std::string& name, std::vector<VARIANT>&) override {
        seen.push_back("plain:" + name);
        return true;
    }
    bool OnPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) override {
        return true;
    }
    void OnJsCommandResult(int, const std::string&, const std::string&, VARIANT*) override {}
    std::vector<std::string> seen;
};

class FromRecorder : public OriginRecorder {
public:
    bool OnAsynJsEventFrom(int, const std::string& name, std::vector<VARIANT>&, const std::string& origin) override {
        seen.push_back("from:" + name + "@" + origin);
        return true;
    }
};

TEST(OriginDelegates, BoundToTheOriginSlotTheHandlerGetsTheFramesOrigin) {
    using D = CCEF3JSDelegate<CJSCallbackHandler, CJSCallbackHandler>;
    FromRecorder from;
    OriginRecorder plain;
    CefRefPtr<CCEF3Handler> handler(new CCEF3Handler());
    handler->AddASynCPPCallBack(D(&from, &CJSCallbackHandler::OnAsynJsEventFrom));
    // A handler that keeps the default of the origin slot still gets the call.
    handler->AddASynCPPCallBack(D(&plain, &CJSCallbackHandler::OnAsynJsEventFrom));
    // A delegate bound to the old slot is called without the origin.
    handler->AddASynCPPCallBack(D(&plain, &CJSCallbackHandler::OnAsynJsEvent));
    CefRefPtr<CefListValue> args = CefListValue::Create();
    args->SetInt(0, -1);
    handler->HandleAsynJsEventFrom(3, "http://127.0.0.1:8000", "VantorCommunicateAsyn", args);
    handler->HandleAsynJsEvent(3, "Old", args);
    EXPECT_EQ(from.seen, (std::vector<std::string>{"from:VantorCommunicateAsyn@http://127.0.0.1:8000", "from:Old@"}));
    EXPECT_EQ(plain.seen, (std::vector<std::string>{"plain:VantorCommunicateAsyn", "plain:VantorCommunicateAsyn",
                                                    "plain:Old", "plain:Old"}));
}

TEST(OriginDelegates, DelegatesOfTheTwoSlotsAreDifferent) {
    using D = CCEF3JSDelegate<CJSCallbackHandler, CJSCallbackHandler>;
    OriginRecorder target;
    CCEF3JSDelegateList list;
    EXPECT_TRUE(list.Add(D(&target, &CJSCallbackHandler::OnAsynJsEventFrom)));
    EXPECT_FALSE(list.Add(D(&target, &CJSCallbackHandler::OnAsynJsEventFrom)));
    EXPECT_TRUE(list.Add(D(&target, &CJSCallbackHandler::OnAsynJsEvent)));
    EXPECT_EQ(list.size(), 2u);
}

TEST(OriginDelegates, TheProcessMessageCarriesTheOriginToTheHandler) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("VantorCommunicateAsyn");
    EXPECT_EQ(message->GetFrameOrigin(), "");
    message->SetFrameOrigin("http://[::1]:81");
    EXPECT_EQ(message->GetFrameOrigin(), "http://[::1]:81");
}

}  // namespace
