// Where the real client writes and what it reads, against another local user
// and a hostile environment: files planted in a shared install folder, a FIFO
// where a memo should be, a shared folder the client must not narrow, and the
// launch report sent over verified TLS.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "tests/faults/client_harness.h"
#include "tests/support/text.h"
#include "tests/support/tls_identity.h"

using namespace std::chrono_literals;
using qmtest::ClientRun;

namespace {

const std::string kOtherUser = "65534";

unsigned Mode(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

off_t Size(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::vector<std::string> AsOtherUser(const std::vector<std::string>& argv) {
    std::vector<std::string> out{"/usr/bin/setpriv", "--reuid=" + kOtherUser, "--regid=" + kOtherUser,
                                 "--clear-groups", "--"};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

// A shell command run as the other user; its output in `out`.
int RunAsOtherUser(const std::string& script, std::string* out = nullptr) {
    return qmtest::RunProcess(AsOtherUser({"/bin/sh", "-c", script}), 60s, {}, out);
}

// The user's XDG folders in a private folder of the test, outside the install.
struct UserFolders {
    qmtest::TempDir root;
    std::string state = root.File("state"), data = root.File("data"), cache = root.File("cache"),
                runtime = root.File("run");
    UserFolders() { mkdir(runtime.c_str(), 0700); }
    void Into(std::map<std::string, std::string>& env) const {
        env["XDG_STATE_HOME"] = state;
        env["XDG_DATA_HOME"] = data;
        env["XDG_CACHE_HOME"] = cache;
        env["XDG_RUNTIME_DIR"] = runtime;
    }
    std::string Logs() const { return qmtest::DailyLogs(state + "/quenor"); }
};

std::string TodaysLogName() {
    time_t now = time(nullptr);
    struct tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof(name), "qm_main_%04d_%02d_%02d_log.txt", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return name;
}

void ExpectAnswers(ClientRun& run) {
    size_t before = run.page().Replies("_get_client_info").size();
    run.page().Queue("_get_client_info");
    EXPECT_TRUE(run.page().WaitReplies("_get_client_info", before + 1, 30s)) << run.Output();
}

// --- A second user plants files in a shared, group-writable install folder ---------------

TEST(PlantedFiles, ASecondUserInAGroupWritableInstallFolderGetsNothingOfTheUsers) {
    ClientRun run;
    UserFolders user;
    user.Into(run.env());
    // The install folder is shared with the other user's group, as a README reader may set it up.
    ASSERT_EQ(chown(run.dir().c_str(), 0, 65534), 0);
    ASSERT_EQ(chmod(run.dir().c_str(), 0775), 0);
    if (RunAsOtherUser("test -w '" + run.dir() + "'") != 0)
        GTEST_SKIP() << "user " << kOtherUser << " cannot reach " << run.dir() << " (setpriv, or a closed parent)";
    const std::string log = "LOG/" + TodaysLogName();
    // What the planter prepares for the user to write into, open to everybody.
    std::string plant = "cd '" + run.dir() + "' && umask 0 && mkdir LOG Dump tmp tmp/qm_main && : > '" + log +
                        "' && : > tmp/qm_main/Cookies && : > 'Dump/~1.dmp.tmp' && : > out_start.ini";
    ASSERT_EQ(RunAsOtherUser(plant), 0);

    run.web().Route("/cookie.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = qmtest::kRemotePage;
        r.headers = {{"Set-Cookie", "session=SECRETCOOKIE; Max-Age=86400; Path=/"}};
        return r;
    });
    ASSERT_TRUE(run.Start("/cookie.html"));
    ASSERT_TRUE(run.page().WaitLoads(1, 60s)) << run.Output();
    ExpectAnswers(run);
    const std::string jar = user.data + "/quenor/tmp/qm_main/Cookies";
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Size(jar) > 0; }, 30s)) << "no cookie jar in the user's data folder";
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();

    // Everything planted is as the planter left it: empty, and alone.
    for (const std::string& file : {log, std::string("tmp/qm_main/Cookies"), std::string("Dump/~1.dmp.tmp"),
                                    std::string("out_start.ini")})
        EXPECT_EQ(Size(run.Path(file)), 0) << file;
    EXPECT_EQ(qmtest::ListDir(run.Path("LOG")), std::vector<std::string>{TodaysLogName()});
    EXPECT_EQ(qmtest::ListDir(run.Path("tmp")), std::vector<std::string>{"qm_main"});
    EXPECT_EQ(qmtest::ListDir(run.Path("tmp/qm_main")), std::vector<std::string>{"Cookies"});
    EXPECT_EQ(qmtest::ListDir(run.Path("Dump")), std::vector<std::string>{"~1.dmp.tmp"});
    // And nothing the planter can read anywhere in the install holds the session or a log line.
    std::string found;
    RunAsOtherUser("grep -rlsI --exclude=client.out -e SECRETCOOKIE -e '<Quenor>' '" + run.dir() + "' || true", &found);
    EXPECT_EQ(found, "");

    // The user's own folders hold it all, private, and the log says why.
    EXPECT_EQ(Mode(jar), 0600u);
    EXPECT_EQ(Mode(user.state + "/quenor/LOG"), 0700u);
    std::string logs = user.Logs();
    EXPECT_NE(logs.find("<Quenor> not beside the executable: " + run.dir() +
                        " may be written by other users (mode 0775)"),
              std::string::npos)
        << logs;
}

// --- Reads that must not stall the start -------------------------------------------------

TEST(BootTimeMemo, AFifoInItsPlaceNeitherStallsTheStartNorChangesTheBootId) {
    ClientRun run;
    UserFolders user;
    user.Into(run.env());
    const std::string memo = user.runtime + "/qm_boot_time";
    ASSERT_EQ(mkfifo(memo.c_str(), 0600), 0);
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run);
    std::vector<std::string> replies = run.page().Replies("_get_client_info");
    ASSERT_FALSE(replies.empty());
    size_t at = replies.back().find("\"boot_id\":\"");
    ASSERT_NE(at, std::string::npos) << replies.back();
    EXPECT_EQ(replies.back().find('"', at + 11) - (at + 11), 32u) << replies.back();
    // The FIFO gave way to the memo, private to the user.
    struct stat st{};
    ASSERT_EQ(lstat(memo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();
}

// --- A shared install folder stays as its owner set it ------------------------------------

TEST(HandOver, LeavesTheInstallFolderItsModeAndTheStartFilePrivate) {
    ClientRun run;
    ASSERT_EQ(chmod(run.dir().c_str(), 0755), 0);
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    EXPECT_EQ(qmtest::RunProcess({run.Path("qm_main"), "*start_cid:SHARED"}, 60s, run.env()), 3);
    ASSERT_TRUE(run.LogsHave("<Quenor> a second start handed over the start channel \"SHARED\"", 30s)) << run.Logs();
    EXPECT_EQ(Mode(run.dir()), 0755u);
    EXPECT_EQ(Mode(run.Path("out_start.ini")), 0600u);
    EXPECT_EQ(Mode(run.Path("LOG")), 0700u);
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();
}

// --- The launch report over TLS --------------------------------------------------------------

// A statistics endpoint over TLS on loopback; `trusted`: the client's
// certificate authorities are this server's certificate alone (the system's
// bundle replaced in a mount namespace of the client's own).
class TlsStatistics {
public:
    explicit TlsStatistics(ClientRun& run, bool trusted) {
        identity_ = qmtest::MakeSelfSignedIdentity();
        server_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
        started_ = !identity_.certPem.empty() && server_.StartTls(identity_) &&
                   qmtest::WriteFile(run.Path("deploy.ini"), "[frontend]\ndefault=127.0.0.1:1\n[statistics]\nhost=https://127.0.0.1:" +
                                                                 std::to_string(server_.port()) + "\n");
        if (!trusted) return;
        started_ = started_ && qmtest::WriteFile(authorities_.File("bundle.crt"), identity_.certPem);
        run.SetLaunchPrefix({"/usr/bin/unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                             "mount --bind \"$0\" /etc/ssl/certs/ca-certificates.crt && exec \"$@\"",
                             authorities_.File("bundle.crt")});
    }
    bool started() const { return started_; }
    qmtest::HttpServer& server() { return server_; }

private:
    qmtest::TlsIdentity identity_;
    qmtest::TempDir authorities_;
    qmtest::HttpServer server_;
    bool started_ = false;
};

TEST(LaunchReport, AnHttpsStatisticsHostGetsTheReportOverVerifiedTls) {
    ClientRun run;
    TlsStatistics stats(run, true);
    ASSERT_TRUE(stats.started());
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(stats.server().WaitForRequest("/opt=put", 30s)) << run.Output();
    std::string body = stats.server().BodyOf("/opt=put");
    EXPECT_EQ(body.rfind("{\"para\":[\"mq=lau_rw_start&data=gid=", 0), 0u) << body;
    EXPECT_EQ(stats.server().RequestCount(), 1u);  // sent once: the first attempt succeeded
    EXPECT_EQ(run.stats().RequestCount(), 0u);     // and never in clear
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();
}

TEST(LaunchReport, AnUnverifiedHttpsStatisticsHostGetsNothing) {
    ClientRun run;
    TlsStatistics stats(run, false);
    ASSERT_TRUE(stats.started());
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    // The client tries, and tries again, but never gets past the handshake.
    ASSERT_TRUE(qmtest::WaitUntil([&] { return stats.server().Connections() >= 2; }, 30s));
    EXPECT_EQ(stats.server().RequestCount(), 0u);
    EXPECT_EQ(run.stats().RequestCount(), 0u);
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();
}

}  // namespace
