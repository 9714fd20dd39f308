// Browsers end to end: load events, navigations and frames, pop-ups,
// downloads, keys, the context menu, showing and hiding, closing, cookies.
// Pages are served on 127.0.0.1; host windows are UI library windows.
#include <gtk/gtk.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "kxcef/testing.h"
#include "platform/text.h"
#include "tests/cefhost/support/page_fixture.h"
#include "tests/support/gdk_events.h"
#include "tests/support/proc.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"
#include "uilib/win32.h"

using namespace std::chrono_literals;

namespace qmtest {
namespace {

const char kReport[] =
    "<script>function report(o){KXWebApp.PostCPPTask('report', JSON.stringify(o));}</script>";

// Host windows whose WM_CLOSE messages are counted (and not acted on).
std::map<HWND, int> g_closes;

LRESULT HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ++g_closes[hwnd];
        return 0;
    }
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateHostWindow(const wchar_t* title) {
    HWND hwnd = qmtest::CreateWindowOfClass(L"KXCEF2TestHost", &HostProc, title, WS_OVERLAPPEDWINDOW, 10, 10, 700, 520);
    UiLib::ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

// The URIs the library asked the system to open.
std::mutex g_openedMutex;
std::vector<std::string> g_opened;
bool RecordOpen(const std::string& uri) {
    std::lock_guard<std::mutex> lock(g_openedMutex);
    g_opened.push_back(uri);
    return true;
}
std::vector<std::string> Opened() {
    std::lock_guard<std::mutex> lock(g_openedMutex);
    return g_opened;
}

GtkWidget* ViewOf(CCEF3Handler* handler) {
    CefRefPtr<CefBrowser> b = handler->GetBrowser();
    return b ? UiLib::Native::ToWidget(b->GetHost()->GetWindowHandle()) : nullptr;
}

// A key typed into the browser's view, which takes the focus first.
void SendKey(GtkWidget* view, guint keyval) {
    gtk_widget_grab_focus(view);
    for (bool press : {true, false}) PutKey(gtk_widget_get_window(view), keyval, press);
}

void RightClick(GtkWidget* view) {
    for (bool press : {true, false}) PutButton(gtk_widget_get_window(view), 20, 20, 3, press);
}

bool VisibleToplevelTitled(const char* title) {
    bool found = false;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        const char* t = gtk_window_get_title(GTK_WINDOW(l->data));
        if (t && std::string(t) == title && gtk_widget_get_visible(GTK_WIDGET(l->data))) found = true;
    }
    g_list_free(all);
    return found;
}

bool VisibleMenu() {
    bool found = false;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(l->data));
        if (child && GTK_IS_MENU(child) && gtk_widget_get_visible(GTK_WIDGET(l->data))) found = true;
    }
    g_list_free(all);
    return found;
}

class BrowserTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        g_closes.clear();
        {
            std::lock_guard<std::mutex> lock(g_openedMutex);
            g_opened.clear();
        }
        previousOpener_ = KXCEF2_SetUriOpenerForTesting(&RecordOpen);
        KXCEF2_ResetLaunchLimitForTesting();
    }
    void TearDown() override {
        PageTest::TearDown();
        KXCEF2_SetUriOpenerForTesting(previousOpener_);
        for (HWND h : windows_) UiLib::DestroyWindow(h);
    }
    HWND Host(const wchar_t* title = L"host") {
        HWND h = CreateHostWindow(title);
        windows_.push_back(h);
        return h;
    }
    // A browser on `path` in a top-level window of its own, for input (which wants a mapped view).
    CefRefPtr<CCEF3Handler> OpenInHost(const wchar_t* title, const std::string& path, BrowserRecorder* recorder) {
        return Open(Url(path), recorder, Host(title));
    }
    std::vector<HWND> windows_;
    KXCEF2UriOpener previousOpener_ = nullptr;
};

// --- Load events ----------------------------------------------------------------------

// The numbers are an interface: delegates built against them compare them.
static_assert(CEF3_EVENT_CREATED == 1 && CEF3_EVENT_LOAD_START == 2 && CEF3_EVENT_LOAD_END == 3 &&
                  CEF3_EVENT_LOAD_ERROR == 4,
              "browser event codes");

TEST_F(BrowserTest, APageThatLoadsReportsCreatedStartedEndedWithItsStatus) {
    Page("/ok.html", "<title>\xe4\xb8\xad\xe6\x96\x87 title</title><p>ok</p>");
    BrowserRecorder rec;
    auto h = Open(Url("/ok.html"), &rec);
    ASSERT_GE(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[0].code, CEF3_EVENT_CREATED);
    EXPECT_EQ(rec.events[0].value, 0);
    EXPECT_TRUE(rec.events[0].mainFrame);
    EXPECT_EQ(rec.events[1].code, CEF3_EVENT_LOAD_START);
    EXPECT_EQ(rec.events[1].value, 0);
    EXPECT_EQ(rec.events[2].code, CEF3_EVENT_LOAD_END);
    EXPECT_EQ(rec.events[2].value, 200);
    EXPECT_TRUE(rec.events[2].mainFrame);
    EXPECT_GT(rec.loadStates, 0);
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        for (auto& d : rec.displays)
            if (d.second == CEF3_DISPLAY_TITLE) return true;
        return false;
    }));
    bool sawTitle = false, sawAddress = false;
    for (auto& d : rec.displays) {
        if (d.second == CEF3_DISPLAY_TITLE) sawTitle = d.first == platform::Utf8ToAnsi("\xe4\xb8\xad\xe6\x96\x87 title");
        if (d.second == CEF3_DISPLAY_ADDRESS && d.first == Url("/ok.html")) sawAddress = true;
    }
    EXPECT_TRUE(sawTitle) << "the title arrives in the ANSI code page";
    EXPECT_TRUE(sawAddress) << "the address arrives as UTF-8";
    EXPECT_EQ(h->GetBrowserId(), h->GetBrowser()->GetIdentifier());
}

// The engine's web processes that are children of this process.
std::set<int> WebProcesses() {
    std::set<int> out;
    std::vector<qmtest::ProcStat> table = qmtest::ProcessTable();
    for (int pid : qmtest::Descendants(getpid(), table))
        for (const auto& p : table)
            if (p.pid == pid && p.name.rfind("WebKitWebProces", 0) == 0 && p.state != 'Z') out.insert(pid);
    return out;
}

TEST_F(BrowserTest, EngineProcessesStartedEarlyServeTheFirstBrowserAsIfItWereNew) {
    Page("/first.html", std::string(kReport) +
                            "<title>first</title><script>report({history: history.length, bridge: typeof KXWebApp,"
                            " href: location.href})</script>");
    std::set<int> before = WebProcesses();
    CCEF3Manager::StartEngineProcesses();
    CCEF3Manager::StartEngineProcesses();  // once is enough
    std::set<int> started;
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        started.clear();
        for (int pid : WebProcesses())
            if (!before.count(pid)) started.insert(pid);
        return !started.empty();
    })) << "a web process starts before any browser exists";
    EXPECT_EQ(started.size(), 1u);

    BrowserRecorder rec;
    auto h = Open(Url("/first.html"), &rec);
    ASSERT_GE(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[0].code, 1);
    EXPECT_EQ(rec.events[1].code, 2);
    EXPECT_EQ(rec.events[2].code, 3);
    EXPECT_EQ(rec.events[2].value, 200);
    EXPECT_EQ(rec.Count(4), 0);
    EXPECT_EQ(WaitReport(h.get()), "{\"history\":1,\"bridge\":\"object\",\"href\":\"" + Url("/first.html") + "\"}");
    EXPECT_FALSE(h->GetBrowser()->CanGoBack());
    std::set<int> now;
    for (int pid : WebProcesses())
        if (!before.count(pid)) now.insert(pid);
    EXPECT_EQ(now, started) << "the browser runs in the process started for it";

    // A second browser is made as ever.
    BrowserRecorder second;
    auto h2 = Open(Url("/first.html"), &second);
    EXPECT_NE(h2->GetBrowserId(), h->GetBrowserId());
    EXPECT_EQ(second.Count(3), 1);
}

TEST_F(BrowserTest, EngineProcessesNobodyUsesEndWithTheEngine) {
    // Started and never taken: they go after a while (or with the engine), and
    // the profile with them.
    CCEF3Manager::StartEngineProcesses();
    EXPECT_EQ(KXCEF2_LiveProfileCountForTesting(), 1);
    KXCEF2_ExpireSpareViewForTesting();
    EXPECT_TRUE(PumpMainLoopUntil([] { return KXCEF2_LiveProfileCountForTesting() == 0; }));
}

TEST_F(BrowserTest, AMissingPageEndsWithItsHttpStatus) {
    server_.Route("/missing.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.status = 404;
        r.body = "<p>not here</p>";
        return r;
    });
    BrowserRecorder rec;
    Open(Url("/missing.html"), &rec);
    ASSERT_EQ(rec.Count(CEF3_EVENT_LOAD_END), 1);
    EXPECT_EQ(rec.events.back().code, CEF3_EVENT_LOAD_END);
    EXPECT_EQ(rec.events.back().value, 404);
    EXPECT_EQ(rec.Count(CEF3_EVENT_LOAD_ERROR), 0);
}

TEST_F(BrowserTest, AnUnreachableAddressReportsTheErrorThenItsDetail) {
    qmtest::HttpServer closed;
    ASSERT_TRUE(closed.Start());
    std::string url = closed.Url("/gone.html");
    closed.Stop();
    BrowserRecorder rec;
    Open(url, &rec);
    ASSERT_EQ(rec.Count(CEF3_EVENT_LOAD_ERROR), 1);
    EXPECT_EQ(rec.Count(CEF3_EVENT_LOAD_END), 0) << "a failed load has no load end";
    const auto& failure = rec.events.back();
    EXPECT_EQ(failure.code, CEF3_EVENT_LOAD_ERROR);
    EXPECT_EQ(failure.value, ERR_CONNECTION_REFUSED);
    ASSERT_EQ(rec.details.size(), 1u);
    EXPECT_EQ(rec.details[0].eventCode, CEF3_EVENT_LOAD_ERROR);
    EXPECT_EQ(rec.details[0].value, failure.value);
    EXPECT_EQ(platform::WideToUtf8(rec.details[0].text1), url);
    EXPECT_FALSE(rec.details[0].text2.empty());
}

TEST_F(BrowserTest, AnEqualDelegateIsAddedOnceAndAFalseAnswerStopsTheOthers) {
    Page("/fan.html", "<p>fan</p>");
    BrowserRecorder first, second, third;
    first.answer = true;
    second.answer = false;
    auto h = Open(Url("/fan.html"), &first);  // every list of `first`
    using D = CCEF3BrowserDelegate<BrowserRecorder>;
    h->SetBrowserEventCallBack(D(&first, &BrowserRecorder::OnBrowserEvent));   // equal: ignored
    h->SetBrowserEventCallBack(D(&second, &BrowserRecorder::OnBrowserEvent));  // answers false
    h->SetBrowserEventCallBack(D(&third, &BrowserRecorder::OnBrowserEvent));
    size_t before = first.events.size();
    h->Reload();
    ASSERT_TRUE(PumpMainLoopUntil([&] { return first.Count(CEF3_EVENT_LOAD_END) >= 2; }));
    EXPECT_EQ(first.events.size() - before, second.events.size()) << "each event once per delegate";
    EXPECT_FALSE(second.events.empty());
    EXPECT_TRUE(third.events.empty()) << "the false answer stopped the fan-out";
}

// --- Navigations ------------------------------------------------------------------------

TEST_F(BrowserTest, FrameNavigationsAreReportedAsSubFrameAndCanBeCancelled) {
    Page("/parent.html", std::string(kReport) + "<iframe src='/child.html'></iframe>");
    Page("/child.html", std::string(kReport) + "<script>report('child');</script>");
    for (bool cancel : {false, true}) {
        JsHandler().Clear();
        BrowserRecorder rec;
        rec.cancelSubFrames = cancel;
        auto h = Open(Url("/parent.html"), &rec);
        bool sawSub = false, sawMain = false;
        PumpMainLoopUntil([&] {
            for (auto& l : rec.links) {
                if (l.frameName == L"SubFrame" && platform::WideToUtf8(l.url) == Url("/child.html")) sawSub = true;
                if (l.frameName.empty() && platform::WideToUtf8(l.url) == Url("/parent.html")) sawMain = true;
            }
            return sawSub && sawMain;
        });
        EXPECT_TRUE(sawSub);
        EXPECT_TRUE(sawMain);
        for (auto& l : rec.links) EXPECT_EQ(l.kind, CEF3_LINK_NAVIGATION);
        if (cancel) {
            PumpMainLoopFor(600ms);
            EXPECT_TRUE(JsHandler().Reports(h->GetBrowserId()).empty()) << "the frame's document never ran";
        } else {
            EXPECT_EQ(WaitReport(h.get()), "\"child\"");
        }
        CloseAll();
    }
}

TEST_F(BrowserTest, AMainFrameNavigationCancelledByTheDelegateKeepsThePage) {
    Page("/stay.html", std::string(kReport) + "<script>report('stay');</script>");
    Page("/blocked.html", std::string(kReport) + "<script>report('blocked');</script>");
    BrowserRecorder rec;
    rec.cancelUrlsContaining = true;
    rec.cancelPattern = L"blocked";
    auto h = Open(Url("/stay.html"), &rec);
    EXPECT_EQ(WaitReport(h.get()), "\"stay\"");
    h->NavigateTo(Url("/blocked.html"));
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        for (auto& l : rec.links)
            if (platform::WideToUtf8(l.url) == Url("/blocked.html")) return true;
        return false;
    }));
    PumpMainLoopFor(400ms);
    EXPECT_EQ(JsHandler().Reports(h->GetBrowserId()).size(), 1u);
}

// --- Pop-ups ---------------------------------------------------------------------------------

TEST_F(BrowserTest, PopupsNeverOpenInsideAndGoOutsideUnlessADelegateHandlesThem) {
    // Keys the user presses: a opens the target, f a file, u an unknown scheme,
    // m a mail address. The page also tries on its own, with no key pressed.
    Page("/opener.html", std::string(kReport) +
                             "<script>var to={a:'/popup-target.html',f:'file:///etc/passwd',u:'kxunknown:x',"
                             "m:'mailto:someone@example.com'};document.addEventListener('keydown',function(e){"
                             "window.open(to[e.key]);report('opened '+e.key);});"
                             "window.open('/popup-target.html?unasked');report('loaded');</script>");
    Page("/popup-target.html", "<p>popup</p>");
    {
        // Without new-link delegates the address goes to the system's opener,
        // but only for the user's own action and only http, https or mailto.
        HWND host = Host(L"popups");
        RECT rect{0, 0, 400, 300};
        auto h = CCEF3Manager::CreateBrowser(host, rect, Url("/opener.html"), false, false, 0);
        handlers_.push_back(h);
        EXPECT_EQ(WaitReport(h.get(), 1), "\"loaded\"");
        ASSERT_TRUE(PumpMainLoopUntil([&] { return ViewOf(h.get()) != nullptr; }));
        size_t reports = 1;
        for (guint key : {GDK_KEY_f, GDK_KEY_u, GDK_KEY_a, GDK_KEY_m}) {
            SendKey(ViewOf(h.get()), key);
            EXPECT_EQ(WaitReport(h.get(), ++reports), "\"opened " + std::string(1, static_cast<char>(key)) + "\"");
        }
        ASSERT_TRUE(PumpMainLoopUntil([] { return Opened().size() >= 2; }));
        PumpMainLoopFor(300ms);
        std::vector<std::string> expected{Url("/popup-target.html"), "mailto:someone@example.com"};
        EXPECT_EQ(Opened(), expected);
        EXPECT_EQ(KXCEF2_LiveBrowserCountForTesting(), 1);
        CloseAll();
    }
    {
        std::lock_guard<std::mutex> lock(g_openedMutex);
        g_opened.clear();
    }
    BrowserRecorder rec;
    rec.handlePopups = true;
    Open(Url("/opener.html"), &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] {
        for (auto& l : rec.links)
            if (l.kind == CEF3_LINK_POPUP) return true;
        return false;
    }));
    for (auto& l : rec.links) {
        if (l.kind == CEF3_LINK_POPUP) {
            EXPECT_EQ(platform::WideToUtf8(l.url), Url("/popup-target.html?unasked"));
        }
    }
    PumpMainLoopFor(300ms);
    EXPECT_TRUE(Opened().empty());
    EXPECT_EQ(KXCEF2_LiveBrowserCountForTesting(), 1);
    for (const auto& r : server_.Requests()) EXPECT_EQ(r.target.find("/popup-target.html"), std::string::npos);
}

TEST_F(BrowserTest, APageHasTheSystemOpenAFewAddressesAMinuteAtMost) {
    Page("/burst.html", std::string(kReport) +
                            "<script>document.addEventListener('keydown',function(e){"
                            "window.open('/t.html?'+Date.now());report('opened');});report('loaded');</script>");
    BrowserRecorder rec;
    auto h = OpenInHost(L"burst", "/burst.html", &rec);
    EXPECT_EQ(WaitReport(h.get(), 1), "\"loaded\"");
    for (size_t i = 0; i < 8; ++i) {
        SendKey(ViewOf(h.get()), GDK_KEY_a);
        EXPECT_EQ(WaitReport(h.get(), i + 2), "\"opened\"");
    }
    PumpMainLoopFor(300ms);
    EXPECT_EQ(Opened().size(), 5u);
}

// --- Downloads --------------------------------------------------------------------------------

class DownloadTest : public BrowserTest {
protected:
    void Serve(const std::string& name) {
        server_.Route("/file.bin", [name](const qmtest::HttpRequest&) {
            qmtest::HttpResponse r;
            r.contentType = "application/octet-stream";
            r.headers.push_back({"Content-Disposition", "attachment; filename=\"" + name + "\""});
            r.body = std::string(200000, 'x');
            return r;
        });
        Page("/dl.html", "<a id=a href='/file.bin'>f</a><script>document.getElementById('a').click();</script>");
    }
    static bool WrittenAnywhere(const std::string& name) {
        namespace fs = std::filesystem;
        std::vector<std::string> places{ProfileDir(), fs::current_path().string()};
        if (const char* home = g_get_home_dir()) {
            places.push_back(home);
            places.push_back(std::string(home) + "/Downloads");
        }
        if (const char* d = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) places.push_back(d);
        for (const std::string& dir : places) {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (it.depth() > 3) it.disable_recursion_pending();
                if (it->path().filename().string().find(name) != std::string::npos) return true;
            }
        }
        return false;
    }
};

TEST_F(DownloadTest, TheDelegateGetsUrlAndNameAndNothingIsWritten) {
    Serve("kxtest-report-5a1.txt");
    BrowserRecorder rec;
    rec.handleDownloads = true;
    Open(Url("/dl.html"), &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return !rec.downloads.empty(); }));
    EXPECT_EQ(rec.downloads[0].url, Url("/file.bin"));
    EXPECT_EQ(rec.downloads[0].name, "kxtest-report-5a1.txt");
    PumpMainLoopFor(300ms);
    EXPECT_TRUE(Opened().empty());
    EXPECT_FALSE(WrittenAnywhere("kxtest-report-5a1"));
}

TEST_F(DownloadTest, AnUnhandledDownloadGoesToTheSystemsOpenerOnlyForTheUsersAction) {
    Serve("kxtest-other-5a1.bin");
    // Started by the page itself: the download goes nowhere.
    BrowserRecorder rec;
    Open(Url("/dl.html"), &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.downloads.size() == 1; }));
    PumpMainLoopFor(300ms);
    EXPECT_TRUE(Opened().empty());
    // Started by a key the user pressed: it goes to the system.
    Page("/dl-key.html", "<a id=a href='/file.bin'>f</a><script>document.addEventListener('keydown',"
                         "function(){document.getElementById('a').click();});</script>");
    BrowserRecorder keyed;
    auto h = OpenInHost(L"download", "/dl-key.html", &keyed);
    SendKey(ViewOf(h.get()), GDK_KEY_d);
    ASSERT_TRUE(PumpMainLoopUntil([] { return !Opened().empty(); }));
    EXPECT_EQ(Opened()[0], Url("/file.bin"));
    EXPECT_EQ(keyed.downloads.size(), 1u);
    EXPECT_FALSE(WrittenAnywhere("kxtest-other-5a1"));
}

TEST_F(DownloadTest, TheBrowsersOwnInstallerIsIgnored) {
    Serve("RuvikBrowser.exe");
    BrowserRecorder rec;
    Open(Url("/dl.html"), &rec);
    // The download reaches the engine (the server answered) but goes nowhere.
    ASSERT_TRUE(PumpMainLoopUntil([&] { return server_.WasRequested("/file.bin"); }));
    PumpMainLoopFor(500ms);
    EXPECT_TRUE(rec.downloads.empty());
    EXPECT_TRUE(Opened().empty());
    EXPECT_FALSE(WrittenAnywhere("RuvikBrowser.exe"));
}

// --- Keys and the context menu ------------------------------------------------------------

TEST_F(BrowserTest, F5ReloadsF12OpensTheInspectorAndOtherKeysReachThePage) {
    Page("/keys.html", std::string(kReport) +
                           "<script>var n=+(localStorage.getItem('n')||0)+1;localStorage.setItem('n',n);"
                           "report('load '+n);document.addEventListener('keydown',function(e){report('key '+e.key);});"
                           "</script>");
    BrowserRecorder rec;
    auto h = OpenInHost(L"keys", "/keys.html", &rec);
    EXPECT_EQ(WaitReport(h.get(), 1), "\"load 1\"");
    GtkWidget* view = ViewOf(h.get());
    ASSERT_NE(view, nullptr);
    SendKey(view, GDK_KEY_a);
    EXPECT_EQ(WaitReport(h.get(), 2), "\"key a\"");
    SendKey(view, GDK_KEY_F5);
    EXPECT_EQ(WaitReport(h.get(), 3), "\"load 2\"");
    ASSERT_TRUE(PumpMainLoopUntil([&] { return ViewOf(h.get()) != nullptr; }));
    SendKey(ViewOf(h.get()), GDK_KEY_F12);
    EXPECT_TRUE(PumpMainLoopUntil([] { return VisibleToplevelTitled("DevTools"); }));
    SendKey(ViewOf(h.get()), GDK_KEY_b);
    EXPECT_EQ(WaitReport(h.get(), 4), "\"key b\"");
    for (const std::string& r : JsHandler().Reports(h->GetBrowserId())) {
        EXPECT_NE(r, "\"key F5\"");
        EXPECT_NE(r, "\"key F12\"");
    }
    h->CloseDevTools();
    EXPECT_TRUE(PumpMainLoopUntil([] { return !VisibleToplevelTitled("DevTools"); }));
}

TEST_F(BrowserTest, RightClickShowsNoMenu) {
    Page("/menu.html", std::string(kReport) +
                           "<body style='height:400px'><script>document.addEventListener('contextmenu',"
                           "function(){report('contextmenu');});</script></body>");
    BrowserRecorder rec;
    auto h = OpenInHost(L"menu", "/menu.html", &rec);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return ViewOf(h.get()) && gtk_widget_get_mapped(ViewOf(h.get())); }));
    RightClick(ViewOf(h.get()));
    EXPECT_EQ(WaitReport(h.get()), "\"contextmenu\"");
    PumpMainLoopFor(300ms);
    EXPECT_FALSE(VisibleMenu());
}

// --- Showing, hiding, closing ----------------------------------------------------------------

TEST_F(BrowserTest, HidingBeforeTheBrowserExistsKeepsItHiddenOnceCreated) {
    Page("/hidden.html", "<p>hidden</p>");
    HWND host = Host(L"hidden");
    RECT rect{10, 20, 310, 220};
    auto h = CCEF3Manager::CreateBrowser(host, rect, Url("/hidden.html"), false, false, 0);
    h->ShowBrowser(false);
    BrowserRecorder rec;
    rec.Attach(h.get());
    handlers_.push_back(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.SawLoadEnd(); }));
    HWND view = h->GetBrowser()->GetHost()->GetWindowHandle();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(UiLib::GetParent(view), host);
    EXPECT_FALSE(UiLib::IsWindowVisible(view));
    EXPECT_FALSE(gtk_widget_get_visible(UiLib::Native::ToWidget(view)));
    // Shown again, from another thread: the call hops to the UI thread.
    std::thread([&] { h->ShowBrowser(true); }).join();
    ASSERT_TRUE(PumpMainLoopUntil([&] { return UiLib::IsWindowVisible(view) != FALSE; }));
    RECT r;
    UiLib::GetClientRect(view, &r);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 200);
}

TEST_F(BrowserTest, ABrowserCreatedOnAnotherThreadComesUpOnTheUiThread) {
    Page("/threaded.html", "<p>threaded</p>");
    HWND host = Host(L"threaded");
    CefRefPtr<CCEF3Handler> h;
    std::thread([&] {
        RECT rect{0, 0, 300, 200};
        h = CCEF3Manager::CreateBrowser(host, rect, Url("/threaded.html"), false, false, 0);
    }).join();
    ASSERT_TRUE(h);
    BrowserRecorder rec;
    rec.Attach(h.get());
    handlers_.push_back(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.SawLoadEnd(); }));
    EXPECT_EQ(rec.events.front().code, CEF3_EVENT_CREATED);
    EXPECT_EQ(h->GetMainWindowHandle(), host);
    EXPECT_EQ(UiLib::GetParent(h->GetBrowser()->GetHost()->GetWindowHandle()), host);
}

// The thread rules: work from another thread is marshalled (above); a debug
// build stops a UI-thread-only function called from elsewhere at once.
TEST_F(BrowserTest, UiThreadOnlyFunctionsStopADebugBuildOnAnotherThread) {
#ifdef NDEBUG
    GTEST_SKIP() << "thread rules are checked in debug builds";
#else
    Page("/rules.html", "<p>rules</p>");
    HWND host = Host(L"rules");
    CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(host, RECT{0, 0, 300, 200}, Url("/rules.html"), true, false, 0);
    ASSERT_TRUE(h);
    BrowserRecorder rec;
    rec.Attach(h.get());
    handlers_.push_back(h);
    ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.SawLoadEnd(); }));
    CefRefPtr<CefBrowser> browser = h->GetBrowser();
    ASSERT_TRUE(browser);
    CefRect rect;
    EXPECT_DEATH(std::thread([] { KXCEF2_LiveBrowserCountForTesting(); }).join(), "LiveBrowsers runs off the UI thread");
    EXPECT_DEATH(std::thread([&] { h->OnKeyEvent(browser, WM_KEYDOWN, 'A'); }).join(),
                 "OnKeyEvent runs off the UI thread");
    EXPECT_DEATH(std::thread([&] { h->GetViewRect(browser, rect); }).join(),
                 "GetViewRect runs off the UI thread");
    // The same calls on the UI thread pass.
    EXPECT_EQ(KXCEF2_LiveBrowserCountForTesting(), 1);
#endif
}

TEST_F(BrowserTest, CloseAllWithNoBrowsersDoesNothing) {
    HWND quit = Host(L"quit");
    EXPECT_FALSE(CCEF3Manager::CloseAllBrowser(quit));
    EXPECT_EQ(CCEF3Manager::m_hQuitWnd, nullptr);
    PumpMainLoopFor(100ms);
    EXPECT_EQ(g_closes[quit], 0);
}

TEST_F(BrowserTest, ClosingAllBrowsersClosesTheQuitWindowExactlyOnce) {
    Page("/one.html", "<p>1</p>");
    HWND quit = Host(L"quit");
    HWND parent = Host(L"parent");
    BrowserRecorder r1, r2;
    auto h1 = Open(Url("/one.html"), &r1, parent);
    auto h2 = Open(Url("/one.html"), &r2, parent);
    ASSERT_TRUE(CCEF3Manager::CloseAllBrowser(quit));
    ASSERT_TRUE(PumpMainLoopUntil([] { return KXCEF2_LiveBrowserCountForTesting() == 0; }));
    EXPECT_TRUE(PumpMainLoopUntil([&] { return g_closes[quit] == 1 && g_closes[parent] == 2; }));
    EXPECT_TRUE(h1->IsClosing());
    EXPECT_EQ(h1->GetBrowser(), nullptr);
    // A late removal of a browser that already left sends nothing more.
    CCEF3Manager::RemoveJsCommandListener(h1.get());
    PumpMainLoopFor(200ms);
    EXPECT_EQ(g_closes[quit], 1);
    EXPECT_EQ(g_closes[parent], 2);
    std::vector<VARIANT> none;
    EXPECT_FALSE(CCEF3Manager::SendJsCommand("x", none, h1->GetBrowserId()));
    EXPECT_FALSE(h1->SendJSCommand("x", none));
    CCEF3Manager::m_hQuitWnd = nullptr;
    handlers_.clear();
}

// --- Cookies ----------------------------------------------------------------------------------

TEST_F(BrowserTest, CookiesSurviveClosingAndRecreatingTheBrowser) {
    Page("/set.html", std::string(kReport) +
                          "<script>document.cookie='kept=1; max-age=3600; path=/';"
                          "document.cookie='session=2; path=/';report(document.cookie);</script>");
    Page("/get.html", std::string(kReport) + "<script>report(document.cookie);</script>");
    BrowserRecorder r1;
    auto h1 = Open(Url("/set.html"), &r1);
    std::string set = WaitReport(h1.get());
    EXPECT_NE(set.find("kept=1"), std::string::npos);
    EXPECT_NE(set.find("session=2"), std::string::npos);
    CloseAll();  // the profile's engine context ends with its last browser
    ASSERT_EQ(KXCEF2_LiveProfileCountForTesting(), 0);
    BrowserRecorder r2;
    auto h2 = Open(Url("/get.html"), &r2);
    std::string got = WaitReport(h2.get());
    EXPECT_NE(got.find("kept=1"), std::string::npos) << got;
    EXPECT_NE(got.find("session=2"), std::string::npos) << got;
}

}  // namespace
}  // namespace qmtest
