// The whole client under faults around it. In every case the client keeps
// working (page commands still answer) or ends with a clear line, nothing
// hangs (it always ends on SIGTERM with code 0), and nothing written is lost.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "platform/ini.h"
#include "platform/paths.h"
#include "tests/faults/client_harness.h"

using namespace std::chrono_literals;

namespace {

using qmtest::ClientRun;

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

// The client answers the page: one "_get_client_info" round trip.
void ExpectAnswers(ClientRun& run, const char* when) {
    size_t before = run.page().Replies("_get_client_info").size();
    run.page().Queue("_get_client_info");
    EXPECT_TRUE(run.page().WaitReplies("_get_client_info", before + 1, 30s)) << when << "\n" << run.Output();
}

void ExpectCleanEnd(ClientRun& run) {
    EXPECT_EQ(run.Stop(30s), 0) << run.Output();
    std::string out = run.Output();
    EXPECT_EQ(out.find("AddressSanitizer"), std::string::npos) << out;
    EXPECT_EQ(out.find("runtime error"), std::string::npos) << out;
}

// --- The statistics endpoint misbehaves -----------------------------------------

struct EndpointFault {
    const char* name;
    qmtest::HttpResponse response;
};

EndpointFault Fault(const char* name, qmtest::HttpResponse::Behaviour b, int status = 200,
                    std::chrono::milliseconds delay = 0ms) {
    EndpointFault f{name, {}};
    f.response.behaviour = b;
    f.response.status = status;
    f.response.delay = delay;
    return f;
}

void PrintTo(const EndpointFault& fault, std::ostream* os) { *os << fault.name; }

class StatisticsEndpoint : public ::testing::TestWithParam<EndpointFault> {};

TEST_P(StatisticsEndpoint, TheClientWorksAndEndsAtOnce) {
    ClientRun run;
    qmtest::HttpResponse answer = GetParam().response;
    run.stats().Fallback([answer](const qmtest::HttpRequest&) { return answer; });
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(run.stats().WaitForRequests(1, 30s)) << "no report was attempted";
    ExpectAnswers(run, "with the report under way");
    // The user quits while the report may still be waiting for its answer.
    ExpectCleanEnd(run);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StatisticsEndpoint,
    ::testing::Values(Fault("NeverAnswers", qmtest::HttpResponse::Behaviour::NeverAnswer),
                      Fault("AnswersSlowly", qmtest::HttpResponse::Behaviour::Normal, 200, 4000ms),
                      Fault("ResetsConnections", qmtest::HttpResponse::Behaviour::Reset),
                      Fault("Returns500", qmtest::HttpResponse::Behaviour::Normal, 500)),
    [](const ::testing::TestParamInfo<EndpointFault>& info) { return std::string(info.param.name); });

TEST(StatisticsEndpointFaults, AHugeAnswerStillCountsAsOneSuccessfulReport) {
    ClientRun run;
    run.stats().Fallback([](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body.assign(10u << 20, 'x');
        return r;
    });
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(run.stats().WaitForRequests(1, 30s));
    ExpectAnswers(run, "after the huge answer");
    EXPECT_EQ(run.stats().RequestCount(), 1u) << "a 200 answer ends the report";
    ExpectCleanEnd(run);
}

TEST(StatisticsEndpointFaults, QuittingWhileTheReportWaitsLeavesLibcurlToTheReport) {
    ClientRun run;
    run.stats().Fallback([](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.behaviour = qmtest::HttpResponse::Behaviour::NeverAnswer;
        return r;
    });
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(run.stats().WaitForRequests(1, 30s));
    ExpectCleanEnd(run);
    EXPECT_TRUE(run.LogsHave("launch report(s) still being sent; libcurl is left set up", 5s)) << run.Logs();
}

// --- Files the client reads or writes are broken ------------------------------------

TEST(LogFolder, UnwritableLogFolderIsReportedOnceAndTheClientWorks) {
    ClientRun run;
    // A file where the folder should be: nothing can be created inside it,
    // whatever the user's rights.
    ASSERT_TRUE(qmtest::WriteFile(run.Path("LOG"), "not a folder"));
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "without a log");
    EXPECT_TRUE(run.OutputHas("cannot write the log file", 10s)) << run.Output();
    ExpectCleanEnd(run);
    EXPECT_EQ(qmtest::ReadFile(run.Path("LOG")), "not a folder");
}

TEST(CorruptFiles, BinaryDeploymentFileLeavesTheStartAddressWorking) {
    ClientRun run;
    ASSERT_TRUE(qmtest::WriteFile(run.Path("deploy.ini"), RandomBytes(4096, 1)));
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "with a binary deployment file");
    EXPECT_TRUE(run.LogsHave("deployment file malformed", 10s)) << run.Logs();
    ExpectCleanEnd(run);
}

TEST(CorruptFiles, DeploymentFileWithLongLinesAndNullsIsRead) {
    ClientRun run;
    std::string bytes = "[frontend]\ndefault=" + std::string(512 << 10, 'h') + "\n[statistics]\nhost=127.0.0.1:" +
                        std::to_string(run.stats().port()) + std::string("\0\0garbage\n", 10);
    ASSERT_TRUE(qmtest::WriteFile(run.Path("deploy.ini"), bytes));
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "with a long deployment file");
    ExpectCleanEnd(run);
}

TEST(CorruptFiles, EndlessOrOversizedConfigurationFilesAreRefusedUnreadWithALogLine) {
    ClientRun run;
    // A device that never ends and a registry file past 1 MiB: neither is read.
    run.env()["QM_DEPLOY_FILE"] = "/dev/zero";
    std::string reg = run.Path("machine.reg");
    ASSERT_TRUE(qmtest::WriteFile(reg, "Windows Registry Editor Version 5.00\r\n" + std::string(2 << 20, ';')));
    run.env()["QM_REGISTRY_FILE"] = reg;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "with endless and oversized configuration files");
    EXPECT_TRUE(run.LogsHave("<qm> deployment file not a regular file", 10s)) << run.Logs();
    EXPECT_TRUE(run.LogsHave("<qm> machine registry file too large (over 1048576 bytes)", 10s)) << run.Logs();
    ExpectCleanEnd(run);
}

TEST(CorruptFiles, BinaryRegistryFileGivesAnEmptyGroupIdAndAnAnswer) {
    ClientRun run;
    std::string reg = run.Path("machine.reg");
    ASSERT_TRUE(qmtest::WriteFile(reg, "\xFF\xFE" + RandomBytes(8192, 2)));
    run.env()["QM_REGISTRY_FILE"] = reg;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "with a binary registry file");
    std::vector<std::string> replies = run.page().Replies("_get_client_info");
    ASSERT_FALSE(replies.empty());
    EXPECT_NE(replies.back().find("\"gid\":\"\""), std::string::npos) << replies.back();
    ExpectCleanEnd(run);
}

TEST(CorruptFiles, BinaryStartFileDoesNotLoseTheNextStartChannel) {
    ClientRun run;
    ASSERT_TRUE(qmtest::WriteFile(run.Path("out_start.ini"), RandomBytes(2048, 3)));
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ASSERT_TRUE(run.stats().WaitForRequests(1, 30s));
    // A second start hands its channel over through the file.
    EXPECT_EQ(qmtest::RunProcess({run.Path("qm_main"), "*start_cid:ABC"}, 60s, run.env()), 3);
    ASSERT_TRUE(run.stats().WaitForRequests(2, 30s)) << run.Output();
    bool reported = false;
    for (const auto& r : run.stats().Requests()) reported = reported || r.body.find("&cid=ABC&") != std::string::npos;
    EXPECT_TRUE(reported);
    std::vector<std::wstring> section =
        platform::ReadIniSection(platform::FromNativePath(run.Path("out_start.ini")), L"Start_Cid");
    ASSERT_FALSE(section.empty());
    EXPECT_EQ(section.front(), L"ABC");
    ExpectAnswers(run, "after the hand-over");
    ExpectCleanEnd(run);
}

// --- The voice-chat module is missing or broken ---------------------------------------

struct NimFault {
    const char* name;
    const char* module;  // replaces qm_nim.so; null: no qm_nim.so at all
};

void PrintTo(const NimFault& fault, std::ostream* os) { *os << fault.name; }

class BrokenVoiceModule : public ::testing::TestWithParam<NimFault> {};

TEST_P(BrokenVoiceModule, VoiceCommandsDoNothingAndTheRestWorks) {
    ClientRun run(GetParam().module ? std::vector<std::string>{} : std::vector<std::string>{"qm_nim.so"});
    if (GetParam().module) {
        ASSERT_TRUE(qmtest::WriteFile(run.Path("qm_nim.so"),
                                      qmtest::ReadFile(std::string(QM_FAULT_MODULE_DIR) + "/" + GetParam().module)));
    }
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    // Rounds until well after the businesses started (half a second after the
    // module start): a working module would have answered the login by then.
    for (int round = 0; round < 8; ++round) {
        run.page().Queue("_nim_login", "user=a&pass=b");
        run.page().Queue("_nim_enum_device");
        ExpectAnswers(run, "between voice commands");
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_TRUE(run.page().Replies("_nim_login").empty());
    EXPECT_TRUE(run.page().Replies("_nim_enum_device").empty());
    ExpectCleanEnd(run);
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenVoiceModule,
                         ::testing::Values(NimFault{"Missing", nullptr},
                                           NimFault{"WithoutCreateObject", "fault_nim_no_create.so"},
                                           NimFault{"ReturningNoObject", "fault_nim_null.so"}),
                         [](const ::testing::TestParamInfo<NimFault>& info) { return std::string(info.param.name); });

class EventStorm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qmtest::WriteFile(run_.Path("qm_nim.so"),
                                      qmtest::ReadFile(std::string(QM_FAULT_MODULE_DIR) + "/fault_nim_storm.so")));
        ASSERT_TRUE(run_.StartAndLoad()) << run_.Output();
        // The module is up once a login answers.
        bool up = false;
        for (int i = 0; i < 50 && !up; ++i) {
            run_.page().Queue("_nim_login", "user=a&pass=b");
            up = run_.page().WaitReplies("_nim_login", 1, 300ms);
        }
        ASSERT_TRUE(up) << run_.Output();
    }
    ClientRun run_;
};

TEST_F(EventStorm, EveryEventFromManyThreadsReachesThePageOnce) {
    run_.page().Queue("_nim_enum_device");
    const size_t expected = 8 * 25;
    ASSERT_TRUE(run_.page().WaitReplies("_nim_enum_device", expected, 60s))
        << run_.page().Replies("_nim_enum_device").size();
    ASSERT_TRUE(run_.page().WaitReplies("_nim_join_room", expected, 60s));
    std::set<std::string> devices;
    for (const std::string& r : run_.page().Replies("_nim_enum_device")) {
        size_t p = r.find("storm-");
        ASSERT_NE(p, std::string::npos) << r;
        devices.insert(r.substr(p, r.find('"', p) - p));
    }
    EXPECT_EQ(devices.size(), expected) << "an event was lost or doubled";
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(run_.page().Replies("_nim_enum_device").size(), expected);
    size_t volumes = run_.page().Replies("_nim_audio_volumn").size();
    EXPECT_GE(volumes, 1u);
    EXPECT_LE(volumes, expected);
    ExpectAnswers(run_, "after the storm");
    ExpectCleanEnd(run_);
}

TEST_F(EventStorm, QuittingWhileEventsStillArriveEndsCleanly) {
    run_.page().Queue("_nim_start_audio_device", "path=hw:0");
    run_.page().Queue("_nim_enum_device");
    ASSERT_TRUE(run_.page().WaitReplies("_nim_audio_volumn", 3, 30s));
    ExpectCleanEnd(run_);
}

// --- The user quits while answers are still to come ------------------------------

// Music player scans answer from the worker pool. The client is asked to quit
// while the page keeps asking, so that a scan is under way, or about to
// answer, while the client shuts its browser host down.
TEST(QuitWithAnswersToCome, PlayerScansUnderWayEndBeforeTheBrowserHost) {
    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    std::atomic<bool> ended{false};
    std::thread asker([&] {
        // A steady stream of questions, bounded: the client ends long before.
        // Each scan then has a couple of hundred answers to send, a long
        // stretch for the shutdown to meet.
        for (int i = 0; i < 6000 && !ended.load(); ++i) {
            for (int k = 0; k < 10; ++k) run.page().Queue("_nim_enum_player");
            std::this_thread::sleep_for(10ms);
        }
    });
    EXPECT_TRUE(run.page().WaitReplies("_nim_enum_player", 50, 120s)) << run.Output();
    ExpectCleanEnd(run);
    ended = true;
    asker.join();
}

// --- The engine's web process dies ----------------------------------------------------

std::vector<int> WebProcesses(ClientRun& run) {
    return qmtest::ChildrenNamed(run.process().pid(), "WebKitWebProces");
}

TEST(WebProcessKilled, WithCommandsInFlightThePageComesBackAndAnswers) {
    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    ExpectAnswers(run, "before the kill");
    std::vector<int> web = WebProcesses(run);
    ASSERT_FALSE(web.empty());
    for (int i = 0; i < 200; ++i) run.page().Queue(i % 2 ? "_get_client_info" : "_nim_enum_player");
    // Some of them are on their way when the process goes.
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !run.page().Replies().empty(); }, 10s));
    for (int pid : web) kill(pid, SIGKILL);
    ASSERT_TRUE(run.page().WaitLoads(2, 30s)) << run.Output();
    EXPECT_TRUE(run.OutputHas("reloading the page", 5s)) << run.Output();
    ExpectAnswers(run, "after the reload");
    ExpectCleanEnd(run);
}

TEST(WebProcessKilled, APageThatKeepsDyingFailsLikeALoadAndTheClientStillEnds) {
    ClientRun run;
    ASSERT_TRUE(run.StartAndLoad()) << run.Output();
    // Three reloads are granted; the fourth death fails like a load (the
    // offline page, then tries after growing pauses).
    for (size_t load = 1; load <= 4; ++load) {
        ASSERT_TRUE(run.page().WaitLoads(load, 30s)) << "load " << load << "\n" << run.Output();
        std::vector<int> web;
        ASSERT_TRUE(qmtest::WaitUntil([&] { return !(web = WebProcesses(run)).empty(); }, 10s));
        for (int pid : web) kill(pid, SIGKILL);
    }
    EXPECT_TRUE(run.OutputHas("the page is not reloaded again", 10s)) << run.Output();
    EXPECT_TRUE(run.LogsHave("the page's web process kept ending", 10s)) << run.Logs();
    EXPECT_TRUE(run.process().Running());
    ExpectCleanEnd(run);
}

}  // namespace
