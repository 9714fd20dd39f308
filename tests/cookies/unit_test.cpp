// The cookie facade's pieces that need no engine: the blocking-call state,
// the conversions and URL rules, and the facade without an engine.
#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "cookies/cookie_call.h"
#include "cookies/cookie_convert.h"
#include "kxcef/cookie_manager.h"

namespace {

using kxcef::CookieCall;

CefCookie Cookie(const wchar_t* name, const wchar_t* value, const wchar_t* domain = L"", const wchar_t* path = L"") {
    CefCookie c;
    c.name = name;
    c.value = value;
    c.domain = domain;
    c.path = path;
    return c;
}

// --- CookieCall ---------------------------------------------------------------------------

TEST(CookieCall, FinishedWorkEndsTheWaitAndLeavesAManualEventSet) {
    platform::Event done(true);
    CookieCall call(&done);
    CefCookie c = Cookie(L"a", L"1");
    call.Add(c);
    call.Finish();
    EXPECT_TRUE(call.Wait([] { return true; }));
    EXPECT_TRUE(done.IsSet());
    std::vector<CefCookie> result = call.TakeResult();
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].name, L"a");
}

TEST(CookieCall, WorkOnAnotherThreadEndsTheWaitOnAnAutoResetEvent) {
    platform::Event done(false);
    CookieCall call(&done);
    std::thread worker([&] {
        call.Add(Cookie(L"b", L"2"));
        call.Finish();
    });
    EXPECT_TRUE(call.Wait([] { return true; }));
    worker.join();
    EXPECT_FALSE(done.IsSet());  // the wait took the signal
    EXPECT_EQ(call.TakeResult().size(), 1u);
}

// A signal that is not the call's own must not end the wait before the work.
TEST(CookieCall, StaleOrForeignSignalsDoNotEndTheWait) {
    platform::Event done(true);
    done.Set();  // left over from an earlier use
    CookieCall call(&done);
    std::atomic<bool> finishing{false};
    std::atomic<bool> sawFinishing{false};
    std::thread waiter([&] {
        call.Wait([] { return true; }, std::chrono::milliseconds(10));
        sawFinishing = finishing.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done.Set();  // somebody else's signal
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finishing = true;
    call.Finish();
    waiter.join();
    EXPECT_TRUE(sawFinishing.load());
    EXPECT_TRUE(call.finished());
}

TEST(CookieCall, GivesUpWhenTheWorkCanNoLongerEndAndNeverTouchesTheEventAgain) {
    auto done = std::make_unique<platform::Event>(true);
    CookieCall call(done.get());
    call.Add(Cookie(L"c", L"3"));
    EXPECT_FALSE(call.Wait([] { return false; }, std::chrono::milliseconds(1)));
    done.reset();  // the caller has returned: its event is gone
    call.Add(Cookie(L"d", L"4"));
    call.Finish();  // late work: must not set the destroyed event
    EXPECT_TRUE(call.finished());
}

TEST(CookieCall, WorksWithoutAnEventOfTheCaller) {
    CookieCall call(nullptr);
    std::thread worker([&] { call.Finish(); });
    EXPECT_TRUE(call.Wait([] { return true; }));
    worker.join();
    CookieCall late(nullptr);
    late.Finish();
    late.Add(Cookie(L"e", L"5"));  // after the end: not part of the result
    EXPECT_TRUE(late.Wait([] { return true; }));
    EXPECT_TRUE(late.TakeResult().empty());
}

// --- URLs and conversions -----------------------------------------------------------------

TEST(CookieUrl, OnlyWebAddressesWithAHostCarryCookies) {
    kxcef::CookieUrl u;
    ASSERT_TRUE(kxcef::ParseCookieUrl("HTTP://WWW.Example.COM:8080/a/b?x=1", &u));
    EXPECT_EQ(u.scheme, "http");
    EXPECT_EQ(u.host, "www.example.com");
    EXPECT_EQ(u.path, "/a/b");
    EXPECT_FALSE(u.ipHost);
    ASSERT_TRUE(kxcef::ParseCookieUrl("https://127.0.0.1", &u));
    EXPECT_EQ(u.path, "/");
    EXPECT_TRUE(u.ipHost);
    for (const char* bad : {"", "not a url", "ftp://example.com/", "file:///etc/passwd", "about:blank", "http:///x",
                            "javascript:alert(1)"})
        EXPECT_FALSE(kxcef::ParseCookieUrl(bad, &u)) << bad;
}

TEST(CookieUrl, DefaultPathIsTheDirectoryOfTheUrlPath) {
    EXPECT_EQ(kxcef::DefaultCookiePath("/a/b/c"), "/a/b");
    EXPECT_EQ(kxcef::DefaultCookiePath("/a/b/"), "/a/b");
    EXPECT_EQ(kxcef::DefaultCookiePath("/a"), "/");
    EXPECT_EQ(kxcef::DefaultCookiePath("/"), "/");
    EXPECT_EQ(kxcef::DefaultCookiePath(""), "/");
    EXPECT_EQ(kxcef::DefaultCookiePath("a/b"), "/");
}

struct Made {
    SoupCookie* c = nullptr;
    std::string error;
    ~Made() {
        if (c) soup_cookie_free(c);
    }
};

void Make(const char* url, const CefCookie& cookie, Made* out) {
    kxcef::CookieUrl u;
    ASSERT_TRUE(kxcef::ParseCookieUrl(url, &u)) << url;
    out->c = kxcef::ToSoupCookie(u, cookie, &out->error);
}

TEST(CookieConvert, DomainsDecideBetweenHostAndDomainCookies) {
    {
        Made m;
        Make("http://www.example.com/x/y", Cookie(L"n", L"v"), &m);
        ASSERT_TRUE(m.c) << m.error;
        EXPECT_STREQ(soup_cookie_get_domain(m.c), "www.example.com");
        EXPECT_STREQ(soup_cookie_get_path(m.c), "/x");
        EXPECT_EQ(soup_cookie_get_expires(m.c), nullptr);  // a session cookie
    }
    {
        Made m;
        Make("http://www.example.com/", Cookie(L"n", L"v", L".Example.com", L"/p"), &m);
        ASSERT_TRUE(m.c) << m.error;
        EXPECT_STREQ(soup_cookie_get_domain(m.c), ".example.com");
        EXPECT_STREQ(soup_cookie_get_path(m.c), "/p");
    }
    {
        Made m;
        Make("http://127.0.0.1:8080/", Cookie(L"n", L"v", L"127.0.0.1"), &m);
        ASSERT_TRUE(m.c) << m.error;
        EXPECT_STREQ(soup_cookie_get_domain(m.c), "127.0.0.1");  // addresses have no sub-domains
    }
    for (const wchar_t* foreign : {L"other.com", L"com", L"ww.example.com", L"0.0.1"}) {
        Made m;
        Make(foreign == std::wstring(L"0.0.1") ? "http://127.0.0.1/" : "http://www.example.com/",
             Cookie(L"n", L"v", foreign), &m);
        EXPECT_EQ(m.c, nullptr) << foreign;
        EXPECT_FALSE(m.error.empty());
    }
}

TEST(CookieConvert, NamesAndValuesThatWouldBreakTheHeaderAreRefused) {
    const CefCookie bad[] = {Cookie(L"", L""), Cookie(L"a;b", L"v"), Cookie(L"a=b", L"v"), Cookie(L"a", L"v;w"),
                             Cookie(L"a", L"v\r\nSet-Cookie: x=y"), Cookie(L"a\x7f", L"v")};
    for (const CefCookie& c : bad) {
        Made m;
        Make("http://example.com/", c, &m);
        EXPECT_EQ(m.c, nullptr);
    }
    Made ok;
    Make("http://example.com/", Cookie(L"", L"value-only"), &ok);
    EXPECT_NE(ok.c, nullptr) << ok.error;
}

TEST(CookieConvert, FieldsSurviveTheRoundTrip) {
    CefCookie in = Cookie(L"名字", L"值 with spaces", L"", L"/dir");
    in.secure = true;
    in.httponly = true;
    in.has_expires = true;
    in.expires = 2000000000;  // 2033
    Made m;
    Make("https://example.com/dir/page", in, &m);
    ASSERT_TRUE(m.c) << m.error;
    CefCookie out = kxcef::FromSoupCookie(m.c);
    EXPECT_EQ(out.name, in.name);
    EXPECT_EQ(out.value, in.value);
    EXPECT_EQ(out.domain, L"example.com");
    EXPECT_EQ(out.path, L"/dir");
    EXPECT_TRUE(out.secure);
    EXPECT_TRUE(out.httponly);
    EXPECT_TRUE(out.has_expires);
    EXPECT_EQ(out.expires, in.expires);

    CefCookie session = Cookie(L"s", L"1");
    Made s;
    Make("http://example.com/", session, &s);
    ASSERT_TRUE(s.c);
    CefCookie back = kxcef::FromSoupCookie(s.c);
    EXPECT_FALSE(back.has_expires);
    EXPECT_FALSE(back.secure);
    EXPECT_FALSE(back.httponly);
}

// --- The facade without an engine ----------------------------------------------------------

TEST(CookieManagerWithoutEngine, CallsReturnAtOnceWithoutTouchingTheEvent) {
    CCEF3CookieManager manager;
    platform::Event done(true);
    EXPECT_TRUE(manager.GetCookie(L"http://127.0.0.1/", false, &done).empty());
    std::vector<CefCookie> cookies{Cookie(L"a", L"1")};
    manager.SetCookies(L"http://127.0.0.1/", cookies, &done);
    manager.DeleteCookies(L"http://127.0.0.1/", L"", &done);
    manager.DeleteCookies(L"http://127.0.0.1/", L"a", nullptr);
    EXPECT_TRUE(manager.GetCookie(L"http://127.0.0.1/", true, nullptr).empty());
    EXPECT_FALSE(done.IsSet());
}

}  // namespace
