// A browser test: a page server on 127.0.0.1, browsers created through the
// manager, and everything closed again at the end of each test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxcef/cef3_manager.h"
#include "tests/cefhost/support/engine_env.h"
#include "tests/cefhost/support/recorders.h"
#include "tests/support/http_server.h"
#include "tests/support/main_loop.h"

namespace qmtest {

class PageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Serves `html` at `path` (200, text/html).
    void Page(const std::string& path, const std::string& html);
    std::string Url(const std::string& path) const { return server_.Url(path); }

    // A browser on `url`, with a recorder on all its lists; waits for its first load end.
    CefRefPtr<CCEF3Handler> Open(const std::string& url, BrowserRecorder* recorder, HWND parent = nullptr,
                                 bool waitForLoad = true);
    // Closes every browser this test opened and waits until the engine is idle.
    void CloseAll();
    // Waits for the page's `n`-th KXWebApp.PostCPPTask("report", text) and returns its text.
    std::string WaitReport(CCEF3Handler* handler, size_t n = 1);

    qmtest::HttpServer server_;
    std::vector<CefRefPtr<CCEF3Handler>> handlers_;
};

}  // namespace qmtest
