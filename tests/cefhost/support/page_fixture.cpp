#include "tests/cefhost/support/page_fixture.h"

namespace qmtest {

void PageTest::SetUp() {
    ASSERT_TRUE(server_.Start());
    JsHandler().Clear();
}

void PageTest::TearDown() {
    CloseAll();
    server_.Stop();
    UseExtension("echo");
}

void PageTest::Page(const std::string& path, const std::string& html) {
    server_.Route(path, [html](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = html;
        r.headers.push_back({"Cache-Control", "no-store"});
        return r;
    });
}

CefRefPtr<CCEF3Handler> PageTest::Open(const std::string& url, BrowserRecorder* recorder, HWND parent,
                                       bool waitForLoad) {
    RECT rect{0, 0, 640, 480};
    CefRefPtr<CCEF3Handler> handler = CCEF3Manager::CreateBrowser(parent, rect, url, false, false, 0);
    if (!handler) return nullptr;
    if (recorder) recorder->Attach(handler.get());
    handlers_.push_back(handler);
    if (waitForLoad && recorder) {
        EXPECT_TRUE(PumpMainLoopUntil([&] { return recorder->SawLoadEnd() || recorder->Count(CEF3_EVENT_LOAD_ERROR) > 0; })) << url;
    }
    return handler;
}

void PageTest::CloseAll() {
    for (auto& h : handlers_)
        if (h->GetBrowser()) h->GetBrowser()->GetHost()->CloseBrowser(true);
    handlers_.clear();
    EXPECT_TRUE(WaitEngineIdle());
}

std::string PageTest::WaitReport(CCEF3Handler* handler, size_t n) {
    std::vector<std::string> reports;
    PumpMainLoopUntil([&] {
        reports = JsHandler().Reports(handler->GetBrowserId());
        return reports.size() >= n;
    });
    return reports.size() >= n ? reports[n - 1] : std::string("<no report>");
}

}  // namespace qmtest
