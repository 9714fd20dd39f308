// What another local user, another program or a careless environment can do
// to the real client: hold its instance name, start it ten times at once, read
// its files, fill its standard error, inherit from it, flood it with calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "common/core_protocol.h"
#include "platform/instance_guard.h"
#include "tests/faults/client_harness.h"
#include "tests/support/proc.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;
using qmtest::ClientRun;

namespace {

const std::string kOtherUser = "65534";

unsigned Mode(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

// setpriv as root: the tests that need a second user are skipped without it.
bool CanRunAsAnotherUser() {
    return qmtest::RunProcess({"/usr/bin/setpriv", "--reuid=" + kOtherUser, "--regid=" + kOtherUser,
                               "--clear-groups", "/bin/true"},
                              30s) == 0;
}

// The guard holder as the other user; true once it holds its name.
bool HoldGuardAsAnotherUser(qmtest::ChildProcess& holder, const qmtest::TempDir& dir, const std::string& what) {
    std::string out = dir.File("holder.txt");
    if (!holder.Start({"/usr/bin/setpriv", "--reuid=" + kOtherUser, "--regid=" + kOtherUser, "--clear-groups",
                       QM_GUARD_HOLDER, what},
                      {}, out))
        return false;
    bool held = qmtest::WaitUntil([&] { return qmtest::ReadFile(out).find("held ") == 0; }, 30s);
    if (!held) std::fprintf(stderr, "guard holder: %s\n", qmtest::ReadFile(out).c_str());
    return held;
}

// A signal set of /proc/PID/status ("SigIgn:", "SigBlk:"); all ones when absent.
unsigned long long SignalMask(const std::string& status, const std::string& field) {
    size_t at = status.find(field);
    if (at == std::string::npos) return ~0ull;
    return std::strtoull(status.c_str() + at + field.size(), nullptr, 16);
}

void ExpectCleanEnd(ClientRun& run) { EXPECT_EQ(run.Stop(30s), 0) << run.Output(); }

// Joins a room once the voice module is there (it loads half a second after start).
bool JoinRoom(ClientRun& run, const std::string& arguments) {
    for (int i = 0; i < 40; ++i) {
        run.page().Queue("_nim_join_room", arguments);
        if (run.LogsHave("NimBusiness Join Room room_id", 500ms)) return true;
    }
    return false;
}

}  // namespace

// --- The single-instance guard belongs to one user ---------------------------------------

TEST(InstanceGuardPerUser, AnotherUsersRunningClientDoesNotStopThisOne) {
    if (!CanRunAsAnotherUser()) GTEST_SKIP() << "needs setpriv as root to act as a second user";
    qmtest::TempDir dir;
    qmtest::ChildProcess holder;
    ASSERT_TRUE(HoldGuardAsAnotherUser(holder, dir, "own"));

    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output() << run.Logs();
    // This user's own second start still meets the first, and says why it ends.
    EXPECT_EQ(qmtest::RunProcess({run.Path("qm_main")}, 60s, run.env()), 3);
    EXPECT_TRUE(run.LogsHave("<Quenor> Has already run one instance. exit...", 10s)) << run.Logs();
    ExpectCleanEnd(run);
}

TEST(InstanceGuardPerUser, AnotherUserHoldingThisUsersNameCannotStopTheClient) {
    if (!CanRunAsAnotherUser()) GTEST_SKIP() << "needs setpriv as root to act as a second user";
    qmtest::TempDir dir;
    qmtest::ChildProcess squatter;
    ASSERT_TRUE(HoldGuardAsAnotherUser(squatter, dir, platform::SessionGuardName(core_protocol::kGuard)));

    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output() << run.Logs();
    EXPECT_TRUE(run.LogsHave("is not ours (held by a process of user " + kOtherUser + "); starting without", 10s))
        << run.Logs();
    ExpectCleanEnd(run);
}

// --- Hand-overs ----------------------------------------------------------------------------

TEST(HandOver, TenSimultaneousSecondStartsReportEachStartChannelExactlyOnce) {
    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(run.stats().WaitForRequests(1, 30s)) << "the first start's own report";

    constexpr int kStarts = 10;
    std::vector<std::unique_ptr<qmtest::ChildProcess>> starts;
    for (int i = 0; i < kStarts; ++i) {
        starts.push_back(std::make_unique<qmtest::ChildProcess>());
        ASSERT_TRUE(starts.back()->Start({run.Path("qm_main"), "*start_cid:HANDOVER" + std::to_string(i)}, run.env(),
                                         run.Path("second" + std::to_string(i) + ".out")));
    }
    for (auto& s : starts) EXPECT_EQ(s->Wait(120s), 3);

    // Without a value: an empty section, the window is told, nothing is reported.
    EXPECT_EQ(qmtest::RunProcess({run.Path("qm_main"), "*start_cid"}, 60s, run.env()), 3);
    std::string ini = qmtest::ReadFile(run.Path("out_start.ini"));
    EXPECT_NE(ini.find("[Start_Cid]"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("HANDOVER"), std::string::npos) << ini;
    // A last start marks the end: hand-overs are handled in turn.
    EXPECT_EQ(qmtest::RunProcess({run.Path("qm_main"), "*start_cid:LAST"}, 60s, run.env()), 3);
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] {
            for (const auto& r : run.stats().Requests())
                if (r.body.find("&cid=LAST&ccid=") != std::string::npos) return true;
            return false;
        },
        60s));

    auto reports = run.stats().Requests();
    for (int i = 0; i < kStarts; ++i) {
        std::string cid = "&cid=HANDOVER" + std::to_string(i) + "&ccid=";
        int n = 0;
        for (const auto& r : reports) n += r.body.find(cid) != std::string::npos;
        EXPECT_EQ(n, 1) << cid;
    }
    EXPECT_EQ(reports.size(), 1u + kStarts + 1u) << "a report too many (the empty start channel?)";
    std::string logs = run.Logs();
    EXPECT_EQ(qmtest::Occurrences(logs, "<Quenor> a second start handed over the start channel"), kStarts + 2u) << logs;
    EXPECT_EQ(Mode(run.Path("out_start.ini")), 0600u);
    ExpectCleanEnd(run);
}

// --- Files, logs and standard error ----------------------------------------------------------

TEST(PrivateFiles, FoldersAndFilesAreTheUsersOnlyAndSecretsStayOutOfTheLogs) {
    ClientRun run;
    ASSERT_TRUE(qmtest::WriteFile(run.Path("hunter_no.txt"), ""));  // every record to standard error too
    run.web().Route("/cookie.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = qmtest::kRemotePage;
        r.headers = {{"Set-Cookie", "session=SECRETCOOKIE; Max-Age=86400; Path=/"}};
        return r;
    });
    // The most open umask there is; "type=" inside the address is no sub-process switch.
    mode_t old = umask(0);
    bool started = run.Start("/cookie.html?type=renderer&token=SECRETSTART");
    umask(old);
    ASSERT_TRUE(started);
    ASSERT_TRUE(run.page().WaitLoads(1, 60s)) << run.Output();
    ASSERT_TRUE(JoinRoom(run, "room_id=7\r\n[00:00:00][qm_main][PID:1][TID:1][forged:1]\r\nFORGED"
                              "&rtmp_url=rtmp://127.0.0.1/live/app?token=SECRETROOM"))
        << run.Logs();
    std::string cookies = run.Path("tmp/qm_main/Cookies");
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] {
            struct stat st{};
            return stat(cookies.c_str(), &st) == 0 && st.st_size > 0;
        },
        30s));
    ExpectCleanEnd(run);

    EXPECT_EQ(Mode(run.Path("LOG")), 0700u);
    for (const std::string& name : qmtest::ListDir(run.Path("LOG"))) EXPECT_EQ(Mode(run.Path("LOG/" + name)), 0600u) << name;
    EXPECT_EQ(Mode(run.Path("tmp/qm_main")), 0700u);
    for (const std::string& name : qmtest::ListDir(run.Path("tmp/qm_main"))) {
        if (name.rfind("Cookies", 0) == 0 || name == "SessionCookies") {
            EXPECT_EQ(Mode(run.Path("tmp/qm_main/" + name)), 0600u) << name;
        }
    }

    std::string logs = run.Logs(), out = run.Output();
    for (const char* secret : {"SECRETROOM", "SECRETSTART"}) {
        EXPECT_EQ(logs.find(secret), std::string::npos) << secret;
        EXPECT_EQ(out.find(secret), std::string::npos) << secret;
    }
    EXPECT_NE(logs.find("rtmp_url = rtmp://127.0.0.1/live/app?***"), std::string::npos) << logs;
    EXPECT_NE(out.find("/cookie.html?***"), std::string::npos) << out;
    // The page's line breaks stay inside its entry.
    EXPECT_EQ(logs.find("\r\n[00:00:00][qm_main][PID:1]"), std::string::npos);
    EXPECT_NE(logs.find("room_id 7\\r\\n[00:00:00][qm_main][PID:1][TID:1][forged:1]\\r\\nFORGED"), std::string::npos)
        << logs;
}

#ifdef QM_TEST_HOOKS
TEST(PrivateFiles, ACrashDumpIsTheUsersOnly) {
    qmtest::ClientInstall install;
    mode_t old = umask(0);
    int code = qmtest::RunProcess({install.Path("qm_main"), "*qm_test_crash:main"}, 60s, install.PrepareHome());
    umask(old);
    EXPECT_EQ(code, 128 + SIGSEGV);
    EXPECT_EQ(Mode(install.Path("Dump")), 0700u);
    std::vector<std::string> dumps = qmtest::ListDir(install.Path("Dump"));
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(Mode(install.Path("Dump/" + dumps[0])), 0600u);
}
#endif

TEST(DebuggerOutput, AFullStandardErrorNobodyReadsNeitherStopsTheClientNorItsEnd) {
    ClientRun run;
    ASSERT_TRUE(qmtest::WriteFile(run.Path("hunter_no.txt"), ""));
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    // Filled to the brim, then blocking again as a shell would hand it over.
    fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    std::string block(65536, 'x');
    while (write(pipeFds[1], block.data(), block.size()) > 0) {
    }
    fcntl(pipeFds[1], F_SETFL, 0);
    run.process().SetStandardError(pipeFds[1]);

    ASSERT_TRUE(run.StartAndLoad()) << run.Logs();
    EXPECT_TRUE(JoinRoom(run, "room_id=9"));  // voice events write to the debugger output too
    run.page().Queue("_get_client_info");
    EXPECT_TRUE(run.page().WaitReplies("_get_client_info", 1, 30s));
    EXPECT_EQ(run.Stop(30s), 0) << "a termination signal must end the client";
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// --- Programs the client starts -----------------------------------------------------------------

TEST(SpawnedPrograms, TheUpdaterHoldsNoDescriptorOfTheClientAndStartsWithDefaultSignals) {
    ClientRun run;
    std::string marker = run.Path("updater.txt");
    run.env()["QM_UPDATE_MARKER"] = marker;
    run.env()["QM_UPDATE_STAY_MS"] = "60000";
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    int pid = 0;
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] {
            std::string line = qmtest::ReadFile(marker);
            size_t at = line.find("pid=");
            if (at == std::string::npos) return false;
            pid = std::atoi(line.c_str() + at + 4);
            return pid > 0;
        },
        30s));
    // Standard input, output and error (as far as the client had them), nothing else.
    std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    std::vector<std::string> fds = qmtest::ListDir(fdDir);
    EXPECT_FALSE(fds.empty());
    for (const std::string& fd : fds) EXPECT_TRUE(fd == "0" || fd == "1" || fd == "2") << "descriptor " << fd;
    std::string status = qmtest::ReadFile("/proc/" + std::to_string(pid) + "/status");
    EXPECT_EQ(SignalMask(status, "SigBlk:"), 0u) << status;
    // Signals 1 to 31 (SIGPIPE among them) at their default action; the C
    // library's own two real-time signals are its business.
    EXPECT_EQ(SignalMask(status, "SigIgn:") & 0x7FFFFFFFu, 0u) << status;
    kill(pid, SIGKILL);
    ExpectCleanEnd(run);
}

// --- A page that calls in a loop ----------------------------------------------------------------

TEST(PageCallLimits, APageCallingInALoopIsHeldToItsBudgetAndTheClientStaysUsable) {
    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    constexpr size_t kCalls = 5000;
    auto begin = std::chrono::steady_clock::now();
    for (size_t i = 0; i < kCalls; ++i) run.page().Queue("_nim_enum_player");
    ASSERT_TRUE(run.LogsHave("<qm> the page sends commands faster than 100 a second", 60s)) << run.Logs();
    // Every command over the budget is answered as refused, so the page
    // first hears thousands of refusals; it is usable again once the budget
    // has refilled a little.
    auto served = [&](const std::string& callback) {
        size_t n = 0;
        for (const std::string& r : run.page().Replies(callback))
            if (r.find("\"refused\":") == std::string::npos) ++n;
        return n;
    };
    // Every call hears its answer, served or refused; on a loaded machine
    // that many answers take the page minutes to post.
    ASSERT_TRUE(run.page().WaitReplies("_nim_enum_player", kCalls, 300s))
        << run.page().Replies("_nim_enum_player").size() << " answers";
    bool answered = false;
    for (int i = 0; i < 30 && !answered; ++i) {
        run.page().Queue("_get_client_info");
        answered = qmtest::WaitUntil([&] { return served("_get_client_info") >= 1; }, 1s);
    }
    EXPECT_TRUE(answered);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GT(run.page().Replies("_nim_enum_player").size() - served("_nim_enum_player"), 0u) << "refusals heard";
    size_t replies = served("_nim_enum_player");
    EXPECT_LE(replies, static_cast<size_t>(200 + 100 * seconds) + 1) << seconds << " s";
    EXPECT_LT(run.Logs().size(), 2u << 20);
    ExpectCleanEnd(run);
}
