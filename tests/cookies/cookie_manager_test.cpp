// The cookie facade against the running engine: pages on 127.0.0.1 set and
// receive cookies, the facade reads, sets and deletes them from another
// thread while this (the UI) thread turns the loop, and host programs run
// twice on one profile directory.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "kxcef/cookie_manager.h"
#include "platform/text.h"
#include "tests/cefhost/support/page_fixture.h"
#include "tests/support/process.h"

namespace qmtest {
namespace {

const char kReport[] =
    "<script>function report(o){KXWebApp.PostCPPTask('report', JSON.stringify(o));}</script>";

std::wstring W(const std::string& s) { return platform::Utf8ToWide(s); }
std::string U(const std::wstring& s) { return platform::WideToUtf8(s); }

// Runs `fn` on a thread of its own while this thread turns the UI loop, as a
// caller on another thread would. A call that never returns ends the program.
void OffUi(const std::function<void()>& fn) {
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        fn();
        finished = true;
    });
    if (!PumpMainLoopUntil([&] { return finished.load(); }, std::chrono::seconds(30))) {
        std::fprintf(stderr, "a cookie call did not return within 30 s\n");
        std::abort();
    }
    worker.join();
}

CefCookie Make(const std::string& name, const std::string& value, const std::string& path = "/") {
    CefCookie c;
    c.name = W(name);
    c.value = W(value);
    c.path = W(path);
    return c;
}

const CefCookie* Find(const std::vector<CefCookie>& cookies, const std::string& name) {
    for (const CefCookie& c : cookies)
        if (U(c.name) == name) return &c;
    return nullptr;
}

std::string Names(const std::vector<CefCookie>& cookies) {
    std::string out;
    for (const CefCookie& c : cookies) out += U(c.name) + "=" + U(c.value) + ";";
    return out;
}

class CookieTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        cookies_.reset(new CCEF3CookieManager());
        // The profile outlives a test: start from no cookies on this host.
        Delete("/", "");
        ASSERT_TRUE(Get("/").empty()) << Names(Get("/"));
    }
    void TearDown() override {
        cookies_.reset();
        PageTest::TearDown();
    }

    // The calls for a path of the test server, and for any address (`...At`).
    std::vector<CefCookie> Get(const std::string& path, bool deleteAfterRead = false) {
        return GetAt(Url(path), deleteAfterRead);
    }
    void Set(const std::string& path, std::vector<CefCookie> cookies) { SetAt(Url(path), std::move(cookies)); }
    void Delete(const std::string& path, const std::string& name) { DeleteAt(Url(path), name); }
    std::vector<CefCookie> GetAt(const std::string& url, bool deleteAfterRead = false) {
        std::vector<CefCookie> got;
        platform::Event done;
        OffUi([&] { got = cookies_->GetCookie(W(url), deleteAfterRead, &done); });
        EXPECT_TRUE(done.IsSet());
        return got;
    }
    void SetAt(const std::string& url, std::vector<CefCookie> cookies) {
        platform::Event done;
        OffUi([&] { cookies_->SetCookies(W(url), cookies, &done); });
        EXPECT_TRUE(done.IsSet());
    }
    void DeleteAt(const std::string& url, const std::string& name) {
        platform::Event done;
        OffUi([&] { cookies_->DeleteCookies(W(url), W(name), &done); });
        EXPECT_TRUE(done.IsSet());
    }
    // The same server under the host name "localhost".
    std::string LocalhostUrl(const std::string& path) const {
        return "http://localhost:" + std::to_string(server_.port()) + path;
    }
    // The Cookie header of the last request for `path`.
    std::string SentCookies(const std::string& path) {
        std::string header = "<no request>";
        for (const qmtest::HttpRequest& r : server_.Requests()) {
            if (r.target != path) continue;
            auto it = r.headers.find("cookie");
            header = it == r.headers.end() ? "" : it->second;
        }
        return header;
    }
    // Serves `path` with extra Set-Cookie headers.
    void PageSettingCookies(const std::string& path, const std::vector<std::string>& setCookies,
                            const std::string& html = "<p>cookies</p>") {
        server_.Route(path, [setCookies, html](const qmtest::HttpRequest&) {
            qmtest::HttpResponse r;
            r.body = html;
            r.headers.push_back({"Cache-Control", "no-store"});
            for (const std::string& c : setCookies) r.headers.push_back({"Set-Cookie", c});
            return r;
        });
    }

    std::unique_ptr<CCEF3CookieManager> cookies_;
};

// --- Reading -------------------------------------------------------------------------------

TEST_F(CookieTest, AUrlWithoutCookiesGivesNoneAndReturns) {
    EXPECT_TRUE(Get("/nothing/here").empty());
    // Not a web address: nothing to visit, and the call still ends.
    std::vector<CefCookie> got{Make("stale", "1")};
    platform::Event done;
    OffUi([&] { got = cookies_->GetCookie(L"not a url", false, &done); });
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(done.IsSet());
}

TEST_F(CookieTest, CookiesThePageSetAreReadBack) {
    PageSettingCookies("/set.html", {"hdr=from-header; Max-Age=3600; Path=/"},
                       std::string(kReport) + "<script>document.cookie='js=from-script; path=/';"
                                              "report(document.cookie);</script>");
    BrowserRecorder rec;
    auto h = Open(Url("/set.html"), &rec);
    std::string seen = WaitReport(h.get());
    ASSERT_NE(seen.find("js=from-script"), std::string::npos) << seen;

    std::time_t now = std::time(nullptr);
    std::vector<CefCookie> got = Get("/set.html");
    ASSERT_EQ(got.size(), 2u) << Names(got);
    const CefCookie* hdr = Find(got, "hdr");
    const CefCookie* js = Find(got, "js");
    ASSERT_TRUE(hdr && js) << Names(got);
    EXPECT_EQ(hdr->value, L"from-header");
    EXPECT_EQ(hdr->domain, L"127.0.0.1");
    EXPECT_EQ(hdr->path, L"/");
    EXPECT_TRUE(hdr->has_expires);
    EXPECT_GT(hdr->expires, now + 3000);
    EXPECT_LT(hdr->expires, now + 4000);
    EXPECT_EQ(js->value, L"from-script");
    EXPECT_FALSE(js->has_expires);
    EXPECT_FALSE(js->httponly);
}

TEST_F(CookieTest, ReadingWithDeleteReturnsTheCookiesOnce) {
    PageSettingCookies("/set.html", {"one=1; Path=/", "two=2; Max-Age=600; Path=/"});
    BrowserRecorder rec;
    auto h = Open(Url("/set.html"), &rec);
    std::vector<CefCookie> first = Get("/", true);
    EXPECT_EQ(first.size(), 2u) << Names(first);
    EXPECT_TRUE(Get("/").empty());
    // Gone from the store, not only from the reading.
    h->GetBrowser()->GetMainFrame()->LoadURL(W(Url("/after.html")));
    ASSERT_TRUE(PumpMainLoopUntil([&] { return SentCookies("/after.html") != "<no request>"; }));
    EXPECT_EQ(SentCookies("/after.html"), "");
}

TEST_F(CookieTest, HttpOnlyCookiesAreNotReturnedButStayInTheStore) {
    PageSettingCookies("/set.html", {"secret=hidden; HttpOnly; Path=/", "plain=shown; Path=/"});
    BrowserRecorder rec;
    auto h = Open(Url("/set.html"), &rec);
    CefCookie viaFacade = Make("facade_secret", "x");
    viaFacade.httponly = true;
    Set("/", {viaFacade});

    std::vector<CefCookie> got = Get("/");
    ASSERT_EQ(got.size(), 1u) << Names(got);
    EXPECT_EQ(U(got[0].name), "plain");
    EXPECT_TRUE(Get("/", true).size() == 1u);  // read-with-delete leaves them too

    BrowserRecorder rec2;
    Open(Url("/check.html"), &rec2);
    std::string sent = SentCookies("/check.html");
    EXPECT_NE(sent.find("secret=hidden"), std::string::npos) << sent;
    EXPECT_NE(sent.find("facade_secret=x"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("plain="), std::string::npos) << sent;
}

// --- Setting ---------------------------------------------------------------------------------

TEST_F(CookieTest, AnEmptySetReturnsAndSetsTheEvent) {
    Set("/", {});
    EXPECT_TRUE(Get("/").empty());
}

TEST_F(CookieTest, ACookieSetHereIsSentByTheBrowserOnItsNextRequest) {
    CefCookie persistent = Make("lasting", "yes");
    persistent.has_expires = true;
    persistent.expires = static_cast<std::int64_t>(std::time(nullptr)) + 3600;
    Set("/page.html", {Make("fac", "abc"), persistent, Make("elsewhere", "no", "/other")});
    BrowserRecorder rec;
    Open(Url("/page.html"), &rec);
    std::string sent = SentCookies("/page.html");
    EXPECT_NE(sent.find("fac=abc"), std::string::npos) << sent;
    EXPECT_NE(sent.find("lasting=yes"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("elsewhere"), std::string::npos) << sent;

    std::vector<CefCookie> got = Get("/other/x");
    EXPECT_TRUE(Find(got, "elsewhere") && Find(got, "fac")) << Names(got);
    std::vector<CefCookie> all = Get("/");
    const CefCookie* l = Find(all, "lasting");
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->has_expires);
    EXPECT_EQ(l->expires, persistent.expires);
}

TEST_F(CookieTest, CookiesThatCannotBelongToTheUrlAreRefusedAndTheRestSet) {
    CefCookie foreign = Make("foreign", "1");
    foreign.domain = L"example.com";
    Set("/", {foreign, Make("bad;name", "1"), Make("good", "1"), Make("split", "a\r\nb")});
    std::vector<CefCookie> got = Get("/");
    ASSERT_EQ(got.size(), 1u) << Names(got);
    EXPECT_EQ(U(got[0].name), "good");
}

TEST_F(CookieTest, AnExpiredCookieReplacesAndRemovesTheOldOne) {
    Set("/", {Make("gone", "soon")});
    CefCookie expired = Make("gone", "now");
    expired.has_expires = true;
    expired.expires = 1000000000;  // 2001
    Set("/", {expired});
    EXPECT_TRUE(Get("/").empty());
}

// --- Deleting ---------------------------------------------------------------------------------

TEST_F(CookieTest, DeletingByNameRemovesOnlyThatCookie) {
    PageSettingCookies("/set.html", {"hid=1; HttpOnly; Path=/"});
    BrowserRecorder rec;
    Open(Url("/set.html"), &rec);
    Set("/", {Make("a", "1"), Make("b", "2"), Make("c", "3", "/sub")});
    Delete("/", "a");
    std::vector<CefCookie> got = Get("/sub/page");
    EXPECT_FALSE(Find(got, "a")) << Names(got);
    EXPECT_TRUE(Find(got, "b") && Find(got, "c")) << Names(got);
    Delete("/sub/page", "");  // every cookie of that address, HTTP-only ones too
    EXPECT_TRUE(Get("/sub/page").empty());
    BrowserRecorder rec2;
    Open(Url("/check.html"), &rec2);
    EXPECT_EQ(SentCookies("/check.html"), "");
    Delete("/", "nobody");  // nothing to delete: still returns
}

// The engine deletes every host cookie of the URL's host when no name is given,
// not only those a request to the URL would carry; other hosts' cookies and
// domain cookies stay.
TEST_F(CookieTest, DeletingWithoutANameRemovesEveryCookieOfTheHostWhateverItsPath) {
    PageSettingCookies("/deep/set.html", {"hid=1; HttpOnly; Path=/deep"});
    BrowserRecorder rec;
    Open(Url("/deep/set.html"), &rec);
    Set("/", {Make("root", "1"), Make("sub", "2", "/sub"), Make("far", "3", "/a/b/c")});
    CefCookie secure = Make("sec", "4");
    secure.secure = true;
    const std::string https = "https://127.0.0.1:" + std::to_string(server_.port()) + "/";
    SetAt(https, {secure});
    CefCookie domain = Make("shared", "5");
    domain.domain = L"localhost";
    SetAt(LocalhostUrl("/"), {Make("other", "6", "/x"), domain});
    ASSERT_TRUE(Find(GetAt(https), "sec")) << Names(GetAt(https));
    ASSERT_TRUE(Find(Get("/a/b/c/d"), "far")) << Names(Get("/a/b/c/d"));

    Delete("/sub/page", "");
    EXPECT_TRUE(Get("/").empty()) << Names(Get("/"));
    EXPECT_TRUE(Get("/sub/page").empty()) << Names(Get("/sub/page"));
    EXPECT_TRUE(Get("/a/b/c/d").empty()) << Names(Get("/a/b/c/d"));
    EXPECT_TRUE(GetAt(https).empty()) << Names(GetAt(https));
    BrowserRecorder rec2;
    Open(Url("/deep/check.html"), &rec2);
    EXPECT_EQ(SentCookies("/deep/check.html"), "") << "the HTTP-only cookie of /deep stayed";

    std::vector<CefCookie> other = GetAt(LocalhostUrl("/x/y"));
    EXPECT_TRUE(Find(other, "other") && Find(other, "shared")) << Names(other);
    DeleteAt(LocalhostUrl("/"), "");
    other = GetAt(LocalhostUrl("/x/y"));
    EXPECT_FALSE(Find(other, "other")) << Names(other);
    EXPECT_TRUE(Find(other, "shared")) << "a domain cookie is not the host's: " << Names(other);
    DeleteAt(LocalhostUrl("/"), "shared");
    EXPECT_TRUE(GetAt(LocalhostUrl("/x/y")).empty());
}

// --- Threads and events ----------------------------------------------------------------------

TEST_F(CookieTest, CallsOnTheUiThreadFailAtOnce) {
    Set("/", {Make("there", "1")});
    platform::Event done;
    EXPECT_TRUE(cookies_->GetCookie(W(Url("/")), true, &done).empty());
    std::vector<CefCookie> more{Make("never", "1")};
    cookies_->SetCookies(W(Url("/")), more, &done);
    cookies_->DeleteCookies(W(Url("/")), L"there", &done);
    EXPECT_FALSE(done.IsSet());
    std::vector<CefCookie> got = Get("/");
    ASSERT_EQ(got.size(), 1u) << Names(got);
    EXPECT_EQ(U(got[0].name), "there");
}

TEST_F(CookieTest, OneEventServesCallAfterCallWhateverItsState) {
    platform::Event autoReset(false);
    std::vector<CefCookie> got;
    OffUi([&] {
        std::vector<CefCookie> set{Make("k", "v")};
        cookies_->SetCookies(W(Url("/")), set, &autoReset);
        got = cookies_->GetCookie(W(Url("/")), false, &autoReset);
    });
    EXPECT_EQ(Names(got), "k=v;");
    // A manual event still set from before must not end the next wait early.
    platform::Event manual(true);
    manual.Set();
    OffUi([&] { got = cookies_->GetCookie(W(Url("/")), true, &manual); });
    EXPECT_EQ(Names(got), "k=v;");
    OffUi([&] { got = cookies_->GetCookie(W(Url("/")), false, &manual); });
    EXPECT_TRUE(got.empty());
}

TEST_F(CookieTest, CallersOnSeveralThreadsGetTheirOwnResults) {
    const int kThreads = 4;
    std::vector<std::vector<CefCookie>> results(kThreads);
    OffUi([&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                std::string dir = "/t" + std::to_string(i) + "/";
                std::vector<CefCookie> set{Make("t" + std::to_string(i), "v", dir)};
                platform::Event done(false);
                cookies_->SetCookies(W(Url(dir)), set, &done);
                results[i] = cookies_->GetCookie(W(Url(dir + "page")), true, &done);
            });
        }
        for (std::thread& t : threads) t.join();
    });
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(Names(results[i]), "t" + std::to_string(i) + "=v;");
}

// --- One browser's store ------------------------------------------------------------------------

TEST_F(CookieTest, SyncCookieKeepsThePagesSessionCookiesAndWritesThem) {
    Page("/set.html", std::string(kReport) + "<script>document.cookie='synced=1; path=/';"
                                             "report(document.cookie);</script>");
    BrowserRecorder rec;
    auto h = Open(Url("/set.html"), &rec);
    ASSERT_NE(WaitReport(h.get()).find("synced=1"), std::string::npos);
    h->SyncCookie();
    h->SyncCookie();
    // Reads wait while the store is reopened: the cookie is there throughout.
    EXPECT_TRUE(Find(Get("/"), "synced")) << Names(Get("/"));
    // A reload reopens the store once more before it asks again.
    h->Reload();
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.Count(CEF3_EVENT_LOAD_END) >= 2; }));
    EXPECT_NE(SentCookies("/set.html").find("synced=1"), std::string::npos) << SentCookies("/set.html");

    // With every browser and the store closed, the cookie comes back from disk.
    cookies_.reset();
    CloseAll();
    std::string saved = qmtest::ReadFile(ProfileDir() + "/SessionCookies");
    EXPECT_NE(saved.find("synced"), std::string::npos);
    cookies_.reset(new CCEF3CookieManager());
    EXPECT_TRUE(Find(Get("/"), "synced"));
    h->SyncCookie();  // its browser is gone: nothing happens
}

TEST_F(CookieTest, DeletedSessionCookiesDoNotComeBackFromDisk) {
    Set("/", {Make("ghost", "1")});
    Delete("/", "ghost");
    cookies_.reset();
    CloseAll();
    cookies_.reset(new CCEF3CookieManager());
    EXPECT_TRUE(Get("/").empty()) << Names(Get("/"));
}

// --- Restarts -----------------------------------------------------------------------------------

// A copy of the host program in a directory of its own, so that its profile
// ("<dir>/tmp/kxtest_cookie_run") starts empty.
class HostProgram {
public:
    HostProgram() {
        path_ = dir_.File("kxtest_cookie_run");
        std::filesystem::copy_file(KXTEST_COOKIE_RUN, path_);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    }
    int Run(const std::string& mode, const std::string& url, std::string* out) {
        return qmtest::RunProcess({path_, mode, url}, std::chrono::seconds(60), {}, out);
    }

private:
    qmtest::TempDir dir_;
    std::string path_;
};

TEST_F(CookieTest, CookiesSetHereSurviveARestartWithTheSameProfile) {
    Page("/page.html", "<p>page</p>");
    HostProgram host;
    std::string out;
    ASSERT_EQ(host.Run("set", Url("/page.html"), &out), 0) << out;
    ASSERT_EQ(host.Run("get", Url("/page.html"), &out), 0) << out;
    EXPECT_NE(out.find("COOKIE kept=disk"), std::string::npos) << out;
    EXPECT_NE(out.find("COOKIE session=memory"), std::string::npos) << out;
    std::string sent = SentCookies("/page.html");
    EXPECT_NE(sent.find("kept=disk"), std::string::npos) << sent;
    EXPECT_NE(sent.find("session=memory"), std::string::npos) << sent;

    ASSERT_EQ(host.Run("delete", Url("/page.html"), &out), 0) << out;
    ASSERT_EQ(host.Run("get", Url("/page.html"), &out), 0) << out;
    EXPECT_NE(out.find("COOKIE kept=disk"), std::string::npos) << out;
    EXPECT_EQ(out.find("COOKIE session="), std::string::npos) << out;
}

TEST_F(CookieTest, AWaitingCallReturnsWhenTheEngineStops) {
    HostProgram host;
    std::string out;
    EXPECT_EQ(host.Run("stall", Url("/"), &out), 0) << out;
    EXPECT_NE(out.find("RETURNED"), std::string::npos) << out;
}

}  // namespace
}  // namespace qmtest
