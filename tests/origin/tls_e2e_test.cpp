// TLS errors end to end: a front-end served over HTTPS on loopback with a
// self-signed certificate is refused (the page never loads, so nobody but the
// real host can have the bridge), unless "deploy.ini" names an exception for
// the host and exactly this certificate.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/faults/client_harness.h"
#include "tests/support/network.h"
#include "tests/support/tls_identity.h"

using namespace std::chrono_literals;

namespace {

// The test server writes TLS records with SSL_write, which has no
// MSG_NOSIGNAL: the engine closing a connection (the redirect's, once it has
// its answer) while a reply is still going out must not end the test process.
const bool kIgnoreSigpipe = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

// The front-end asks for the client's identity and posts the reply back.
void ServeFrontEnd(qmtest::HttpServer& server) {
    server.Route("/front.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = "<!doctype html><script>window.JsHandleCallBack=function(t){var x=new XMLHttpRequest();"
                 "x.open('POST','/reply');x.send(t);};"
                 "KXVantorAsyn.VantorCommunicateAsyn('_get_client_info','');</script>";
        return r;
    });
    server.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
}

void AddTlsException(qmtest::ClientRun& run, const std::string& value) {
    std::string deploy = qmtest::ReadFile(run.Path("deploy.ini"));
    ASSERT_TRUE(qmtest::WriteFile(run.Path("deploy.ini"), deploy + "[tls_exceptions]\n127.0.0.1=" + value + "\n"));
}

// Starts the client on the HTTPS front-end and expects the load to fail.
void ExpectRefused(qmtest::ClientRun& run, const qmtest::HttpServer& https) {
    ASSERT_TRUE(run.StartAt(https.Url("/front.html")));
    EXPECT_TRUE(run.OutputHas(" failed: the TLS certificate of 127.0.0.1 is not trusted (unknown issuer)", 60s))
        << run.Output() << run.Logs();
    EXPECT_NE(run.Output().find("load of " + https.Url("/front.html?")), std::string::npos);
    EXPECT_EQ(https.RequestCount(), 0u) << "no request may pass the handshake";
    // The client's offline page takes the place of the front-end and says why.
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] {
            std::string logs = run.Logs();
            return logs.find("(The service's certificate is not trusted, so no secure connection was made. -202: ") !=
                       std::string::npos &&
                   logs.find("(unknown issuer)), failure 1") != std::string::npos;
        },
        30s))
        << run.Logs();
    EXPECT_EQ(run.Stop(), 0);
}

TEST(Tls, AFrontEndWhoseCertificateFailsIsRefused) {
    qmtest::TlsIdentity identity = qmtest::MakeSelfSignedIdentity();
    ASSERT_FALSE(identity.sha256.empty());
    qmtest::HttpServer https;
    ServeFrontEnd(https);
    ASSERT_TRUE(https.StartTls(identity));
    {
        qmtest::ClientRun run;
        ExpectRefused(run, https);
        EXPECT_NE(run.Logs().find("TLS certificate errors fail the load for every host"), std::string::npos)
            << run.Logs();
    }
    {
        // An exception for another certificate of the host does not count.
        qmtest::ClientRun run;
        AddTlsException(run, std::string(64, '0'));
        ExpectRefused(run, https);
    }
}

TEST(Tls, TheDeploymentsExceptionForTheHostAndCertificateLetsItLoad) {
    qmtest::TlsIdentity identity = qmtest::MakeSelfSignedIdentity();
    qmtest::HttpServer https;
    ServeFrontEnd(https);
    ASSERT_TRUE(https.StartTls(identity));
    qmtest::ClientRun run;
    // Written as tools print fingerprints: colon-separated, upper case.
    std::string printed;
    for (size_t i = 0; i < identity.sha256.size(); i += 2)
        printed += (i ? ":" : "") + std::string(1, static_cast<char>(std::toupper(identity.sha256[i]))) +
                   std::string(1, static_cast<char>(std::toupper(identity.sha256[i + 1])));
    AddTlsException(run, printed);
    ASSERT_TRUE(run.StartAt(https.Url("/front.html")));
    ASSERT_TRUE(https.WaitForRequest("/reply", 90s)) << run.Output();
    for (const auto& r : https.Requests()) {
        if (r.target != "/reply") continue;
        EXPECT_NE(r.body.find("\"cbfn\":\"_get_client_info\""), std::string::npos);
    }
    EXPECT_NE(run.Logs().find("TLS certificate errors accepted for host 127.0.0.1 by the deployment file: "
                              "certificate SHA-256 " + identity.sha256),
              std::string::npos)
        << run.Logs();
    EXPECT_EQ(run.Stop(), 0);
}

// The front-end's http address sends the client on to https: to the same
// host at the default ports the bridge stays; to another port it does not.
void RunUpgrade(const std::string& target, bool answered) {
    qmtest::TlsIdentity identity = qmtest::MakeSelfSignedIdentity();
    qmtest::HttpServer https, http;
    ServeFrontEnd(https);
    ASSERT_TRUE(https.StartTls(identity, target == "default" ? 443 : 0));
    std::string to = https.Url("/front.html");
    http.Fallback([to](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.status = 301;
        r.headers.push_back({"Location", to});
        return r;
    });
    ASSERT_TRUE(http.Start(80));
    qmtest::ClientRun run;
    AddTlsException(run, identity.sha256);
    ASSERT_TRUE(run.StartAt("http://127.0.0.1/front.html"));
    if (answered) {
        ASSERT_TRUE(https.WaitForRequest("/reply", 90s)) << run.Output() << run.Logs();
        EXPECT_NE(https.BodyOf("/reply").find("\"cbfn\":\"_get_client_info\""), std::string::npos);
    } else {
        std::string origin = https.Url("/").substr(0, https.Url("/").size() - 1);
        EXPECT_TRUE(run.LogsHave("page call \"_get_client_info\" from origin " + origin + " refused", 90s)) << run.Logs();
        EXPECT_FALSE(https.WasRequested("/reply"));
    }
    EXPECT_NE(run.Logs().find("page commands accepted from: http://127.0.0.1, https://127.0.0.1"), std::string::npos)
        << run.Logs();
    EXPECT_EQ(run.Stop(), 0);
}

TEST(Tls, AnHttpFrontEndThatUpgradesToHttpsOfItsOwnHostKeepsItsCommands) {
    if (!qmtest::InPrivateNetwork()) GTEST_SKIP() << "needs ports 80 and 443: only in a network namespace of its own";
    RunUpgrade("default", true);
}

TEST(Tls, ARedirectToAnotherPortOfTheHostIsNoUpgrade) {
    if (!qmtest::InPrivateNetwork()) GTEST_SKIP() << "needs port 80: only in a network namespace of its own";
    RunUpgrade("other port", false);
}

}  // namespace
