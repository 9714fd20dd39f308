// The launch report against a statistics server that answers with far more
// than anyone reads: the answer is not kept in memory. The server runs in a
// process of its own, so that only the report's memory counts here.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <csignal>

#include <fstream>
#include <regex>

#include "core/services/identity/http_launch_app.h"
#include "platform/paths.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

long PeakRssKb() { return qmtest::ReadProcKb("self", "status", "VmHWM:"); }

// Twice the bound on memory growth below: kept whole, the answer could not fit
// under it. (A bigger answer only makes the transfer outlast the report's
// timeout on a loaded machine.)
constexpr int kAnswerMiB = 32;

TEST(StatisticsAnswer, AnAnswerBeyondTheMemoryBoundCountsAsSuccessWithoutBeingKept) {
    qmtest::TempDir web;
    {
        std::ofstream big(web.File("big"), std::ios::binary);
        std::string block(1 << 20, 'x');
        for (int i = 0; i < kAnswerMiB; ++i) big << block;
    }
    qmtest::ChildProcess server;
    std::string out = web.File("server.out");
    ASSERT_TRUE(server.Start({QM_DEVSERVER, web.path(), "0", "0"}, {}, out));
    std::smatch m;
    std::string text;
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        text = qmtest::ReadFile(out);
        return std::regex_search(text, m, std::regex("front-end  (http://127\\.0\\.0\\.1:[0-9]+/)"));
    }, 10s)) << text;
    std::string url = m[1].str() + "big";

    curl_global_init(CURL_GLOBAL_ALL);
    long before = PeakRssKb();
    {
        HttpLaunchApp app(platform::FromNativePath(web.path()));
        EXPECT_TRUE(app.PostTask(url, "{\"para\":[]}", 1));
    }
    long grown = PeakRssKb() - before;
    curl_global_cleanup();
    EXPECT_LT(grown, 16 * 1024) << "peak memory grew by " << grown << " KiB";
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(10s), 0);
}

}  // namespace
