// The launch statistics report against an HTTP server on 127.0.0.1: body,
// retries, cookies, and that the caller never waits.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <curl/curl.h>
#include <json/reader.h>

#include "core/services/identity/http_launch_app.h"
#include "core/services/pool/thread_pool.h"
#include "tests/services/services_test_support.h"
#include "tests/support/http_server.h"

namespace {

// libcurl wants its global set-up once per process, as module start does it.
class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { curl_global_init(CURL_GLOBAL_ALL); }
    void TearDown() override { curl_global_cleanup(); }
};
const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

using qmtest::ScopedEnv;

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        qmtest::WriteFile(dir_.File("machine.reg"),
                          "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"G7\"\r\n");
        // Short pauses between retries: these tests count requests, one test times them.
        app_.SetRetryPolicy({std::chrono::milliseconds(5), std::chrono::milliseconds(20)});
        server_.Fallback([this](const qmtest::HttpRequest&) {
            std::lock_guard<std::mutex> lock(lock_);
            arrivals_.push_back(std::chrono::steady_clock::now());
            qmtest::HttpResponse r;
            r.status = statuses_.empty() ? 200 : statuses_.front();
            if (statuses_.size() > 1) statuses_.erase(statuses_.begin());
            r.headers = headers_;
            r.body = "ok";
            return r;
        });
        ASSERT_TRUE(server_.Start());
    }
    void Answer(std::vector<int> statuses, std::vector<std::pair<std::string, std::string>> headers = {}) {
        std::lock_guard<std::mutex> lock(lock_);
        statuses_ = std::move(statuses);
        headers_ = std::move(headers);
    }
    std::string Url() const { return server_.Url("/opt=put"); }
    // Waits for every report of the process-wide pool.
    static void Drain() { CommonFunc::ThreadPool::Get()->GetPool().wait(); }

    qmtest::TempDir dir_;
    ScopedEnv registry_{"QM_REGISTRY_FILE", dir_.File("machine.reg")};
    qmtest::HttpServer server_;
    std::mutex lock_;
    std::vector<int> statuses_;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::vector<std::chrono::steady_clock::time_point> arrivals_;
    HttpLaunchApp app_{platform::FromNativePath(dir_.path())};
};

TEST_F(ReportTest, SendsTheExactBodyOnce) {
    ASSERT_TRUE(app_.SendVeskLaunchApp("83302ACB1052", "cc1", "tg2", "p3", "1.0.9.1", Url()));
    Drain();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/opt=put");
    EXPECT_EQ(requests[0].body, "{\"para\":[\"mq=lau_rw_start&data=" + app_.IdentityText() +
                                    "&cid=83302ACB1052&ccid=cc1&tgid=tg2&version=1.0.9.1&info=start&pid=p3\"]}");
    EXPECT_EQ(requests[0].headers.count("cookie"), 0u);
}

TEST_F(ReportTest, EmptyFieldsStayAndAmpersandsAreNotEscaped) {
    std::string body = HttpLaunchApp::BuildReportBody("gid=&mac=&pcname=h&bootid=B", "", "", "", "", "");
    EXPECT_EQ(body, "{\"para\":[\"mq=lau_rw_start&data=gid=&mac=&pcname=h&bootid=B&cid=&ccid=&tgid=&version=&info="
                    "start&pid=\"]}");
    EXPECT_NE(HttpLaunchApp::BuildReportBody("", "a&b=c", "", "", "", "").find("&cid=a&b=c&ccid="), std::string::npos);
}

TEST_F(ReportTest, BodyStaysValidJsonWhateverTheValuesHold) {
    qmtest::WriteFile(dir_.File("machine.reg"),
                      "Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"q\\\"x\\\\y\"\r\n");
    ASSERT_TRUE(app_.SendVeskLaunchApp("c\"1", "line\nbreak", "tab\t", "p\\", "1.0", Url()));
    Drain();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    Json::Value parsed;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(requests[0].body, parsed)) << requests[0].body;
    ASSERT_TRUE(parsed["para"].isArray());
    ASSERT_EQ(parsed["para"].size(), 1u);
    std::string identity = app_.IdentityText();
    EXPECT_EQ(identity.rfind("gid=q\"x\\y&mac=", 0), 0u) << identity;
    EXPECT_EQ(parsed["para"][0].asString(), "mq=lau_rw_start&data=" + identity +
                                                "&cid=c\"1&ccid=line\nbreak&tgid=tab\t&version=1.0&info=start&pid=p\\");
}

TEST_F(ReportTest, AlwaysFailingServerGetsExactlyTwelveRequests) {
    Answer({500});
    EXPECT_FALSE(app_.PostTask(Url(), "{}", 3));
    EXPECT_EQ(server_.RequestCount(), 12u);
    server_.ClearRequests();
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
    Drain();
    EXPECT_EQ(server_.RequestCount(), 12u);
}

TEST_F(ReportTest, RetriesOfAFailingServerComeFurtherAndFurtherApart) {
    const HttpLaunchApp::RetryPolicy policy{std::chrono::milliseconds(20), std::chrono::milliseconds(160)};
    app_.SetRetryPolicy(policy);
    Answer({500});
    EXPECT_FALSE(app_.PostTask(Url(), "{}", 3));
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    {
        std::lock_guard<std::mutex> lock(lock_);
        arrivals = arrivals_;
    }
    ASSERT_EQ(arrivals.size(), 12u);
    // Each pause is at least the schedule's (20, 40, 80, then 160 ms each), whatever the load.
    for (size_t i = 1; i < arrivals.size(); ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1]);
        EXPECT_GE(gap, HttpLaunchApp::NominalPause(policy, static_cast<int>(i) - 1)) << "before request " << i + 1;
    }
    EXPECT_EQ(HttpLaunchApp::NominalPause(policy, 0), std::chrono::milliseconds(20));
    EXPECT_EQ(HttpLaunchApp::NominalPause(policy, 3), std::chrono::milliseconds(160));
    EXPECT_EQ(HttpLaunchApp::NominalPause(policy, 40), std::chrono::milliseconds(160));
    // The default spreads twelve requests over about a minute, not half a second.
    HttpLaunchApp::RetryPolicy defaults;
    std::chrono::milliseconds total{0};
    for (int i = 0; i < 11; ++i) total += HttpLaunchApp::NominalPause(defaults, i);
    EXPECT_GE(total, std::chrono::seconds(60));
}

TEST_F(ReportTest, OnlyStatus200CountsAsSuccess) {
    Answer({204});
    EXPECT_FALSE(app_.PostTask(Url(), "{}", 3));
    EXPECT_EQ(server_.RequestCount(), 12u);
    server_.ClearRequests();
    Answer({500, 404, 200});
    EXPECT_TRUE(app_.PostTask(Url(), "{}", 3));
    EXPECT_EQ(server_.RequestCount(), 3u);
    server_.ClearRequests();
    // The fifth request opens the second attempt.
    Answer({500, 500, 500, 500, 200});
    EXPECT_TRUE(app_.PostTask(Url(), "{}", 3));
    EXPECT_EQ(server_.RequestCount(), 5u);
}

TEST_F(ReportTest, NothingIsSentWithoutUrlOrBodyOrAttempts) {
    EXPECT_FALSE(app_.PostTask("", "{}", 3));
    EXPECT_FALSE(app_.PostTask(Url(), "", 3));
    EXPECT_FALSE(app_.PostTask(Url(), "{}", 0));
    EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(ReportTest, CookieOfOneReportGoesWithTheNext) {
    Answer({200}, {{"Set-Cookie", "sid=abc123; Path=/"}});
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
    Drain();
    ASSERT_EQ(app_.SavedCookies().size(), 1u);
    EXPECT_NE(app_.SavedCookies()[0].find("sid\tabc123"), std::string::npos);

    Answer({200});
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
    Drain();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].headers.count("cookie"), 0u);
    EXPECT_EQ(requests[1].headers["cookie"], "sid=abc123");
    // An answer without cookies keeps the saved ones.
    EXPECT_EQ(app_.SavedCookies().size(), 1u);
}

TEST_F(ReportTest, FailedReportDoesNotReplaceSavedCookies) {
    Answer({200}, {{"Set-Cookie", "sid=first; Path=/"}});
    ASSERT_TRUE(app_.PostTask(Url(), "{}", 1));
    Answer({500}, {{"Set-Cookie", "sid=second; Path=/"}});
    EXPECT_FALSE(app_.PostTask(Url(), "{}", 1));
    ASSERT_EQ(app_.SavedCookies().size(), 1u);
    EXPECT_NE(app_.SavedCookies()[0].find("sid\tfirst"), std::string::npos);
}

TEST_F(ReportTest, DeadPortGivesUpWithinBoundedTime) {
    qmtest::HttpServer dead;
    ASSERT_TRUE(dead.Start());
    std::string url = dead.Url("/opt=put");
    dead.Stop();
    auto result = std::async(std::launch::async, [&] { return app_.PostTask(url, "{}", 3); });
    // Twelve refused connections and their pauses; the guard only keeps a hang from stalling the suite.
    ASSERT_EQ(result.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    EXPECT_FALSE(result.get());
}

TEST_F(ReportTest, CallerReturnsBeforeTheServerAnswers) {
    std::atomic<bool> returned{false};
    std::atomic<int> sawReturned{0};
    server_.Fallback([&](const qmtest::HttpRequest&) {
        // Answer only once the caller is back; a caller that waited for the
        // answer would make this request time out and be repeated.
        qmtest::WaitUntil([&] { return returned.load(); }, std::chrono::seconds(20));
        if (returned.load()) ++sawReturned;
        return qmtest::HttpResponse();
    });
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
    returned = true;
    Drain();
    EXPECT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(sawReturned.load(), 1);
}

TEST_F(ReportTest, EmptyUrlMeansTheDeploymentEndpoint) {
    qmtest::WriteFile(dir_.File("deploy.ini"),
                      "[statistics]\r\nhost=127.0.0.1:" + std::to_string(server_.port()) + "\r\n");
    ScopedEnv deploy("QM_DEPLOY_FILE", dir_.File("deploy.ini"));
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", ""));
    Drain();
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/opt=put");
}

TEST_F(ReportTest, PrivateLogLinesOnlyWithTheSwitchFile) {
    {
        qmtest::LogCapture log(/*privateLog=*/false);
        std::string body = HttpLaunchApp::BuildReportBody(app_.IdentityText(), "c", "", "", "", "");
        ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
        Drain();
        EXPECT_TRUE(log.Lines().empty());
    }
    qmtest::LogCapture log(/*privateLog=*/true);
    ASSERT_TRUE(app_.SendVeskLaunchApp("c", "", "", "", "", Url()));
    Drain();
    std::string body = HttpLaunchApp::BuildReportBody(app_.IdentityText(), "c", "", "", "", "");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"<HttpLaunchApp> \xE4\xB8\x8A\xE6\x8A\xA5\xE5\x90\xAF\xE5\x8A\xA8",
                                                     "<HttpLaunchApp> SendVeskLaunchApp param:" + body}));
}

}  // namespace
