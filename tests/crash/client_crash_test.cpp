// End-to-end with the real qm_main: its test-only crash switch leaves one dump
// named after it and its version, and the updater starts once per primary
// start only. Skipped while qm_main is not built.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/crash/minidump_reader.h"
#include "tests/crash/dump_checks.h"
#include "tests/faults/client_harness.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

const std::string kVersionedName = std::string("qm_main_v") + QM_PROJECT_VERSION;

size_t LineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

bool ClientBuilt() { return qmtest::Exists(qmtest::BinDir() + "/qm_main"); }

#define REQUIRE_CLIENT() \
    if (!ClientBuilt()) GTEST_SKIP() << "bin/qm_main is not built"

struct CrashSwitchCase {
    const char* where;
    int signo;
    const char* function;
};

class ClientCrashSwitchTest : public ::testing::TestWithParam<CrashSwitchCase> {};

TEST_P(ClientCrashSwitchTest, LeavesOneDumpNamedAfterTheLauncherAndItsVersion) {
    REQUIRE_CLIENT();
#ifndef QM_TEST_HOOKS
    GTEST_SKIP() << "the crash switch exists only in builds configured with -DQM_TEST_HOOKS=ON";
#endif
    qmtest::ClientInstall install;
    time_t before = time(nullptr);
    int code = qmtest::RunProcess({install.Path("qm_main"), std::string("*qm_test_crash:") + GetParam().where}, 60s);
    time_t after = time(nullptr);
    EXPECT_EQ(code, 128 + GetParam().signo);

    std::string path;
    qmtest::Minidump dump;
    ASSERT_TRUE(qmtest::LoadSingleDump(install.Path("Dump"), kVersionedName, before, after, dump, &path));
    ASSERT_TRUE(dump.exception.has_value());
    EXPECT_EQ(dump.exception->code, static_cast<std::uint32_t>(GetParam().signo));
    const qmtest::DumpModule* exe = dump.ModuleNamed("qm_main");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->fileVersion, QM_PROJECT_VERSION);
    EXPECT_EQ(exe->buildId, qmtest::ElfBuildId(install.Path("qm_main")));

    if (!qmtest::HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = qmtest::Lldb(path, install.Path("qm_main"), {"thread backtrace"});
    EXPECT_NE(out.find(GetParam().function), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Client, ClientCrashSwitchTest,
                         ::testing::Values(CrashSwitchCase{"main", SIGSEGV, "QmMainTestCrashWrite"},
                                           CrashSwitchCase{"worker", SIGSEGV, "QmMainTestCrashWrite"},
                                           CrashSwitchCase{"abort", SIGABRT, "QmMainTestCrashAbort"},
                                           CrashSwitchCase{"core", SIGSEGV, "QmCoreModuleFault"},
                                           CrashSwitchCase{"core_worker", SIGSEGV, "QmCoreModuleFault"}),
                         [](const ::testing::TestParamInfo<CrashSwitchCase>& info) { return info.param.where; });

// A web process that faults leaves a dump of its own beside the launcher's,
// named after the launcher's web-process module; the faults the engine's
// script runtime handles itself (out-of-bounds WebAssembly accesses land on
// guard pages) leave none and the page goes on.
TEST(ClientWebProcessCrash, LeavesItsOwnDumpWhileFaultsTheEngineHandlesLeaveNone) {
    REQUIRE_CLIENT();
#ifndef QM_TEST_HOOKS
    GTEST_SKIP() << "the web-process crash hook exists only in builds configured with -DQM_TEST_HOOKS=ON";
#endif
    qmtest::ClientRun run;
    std::atomic<bool> go{false};
    run.web().Route("/crash.html", [](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        // i32.load from the address given, in a one-page memory.
        r.body = R"(<!doctype html><html><body><script>
var wasm = new Uint8Array([0,97,115,109,1,0,0,0,1,6,1,96,1,127,1,127,3,2,1,0,5,3,1,0,1,7,5,1,1,102,0,0,
                           10,9,1,7,0,32,0,40,2,0,11]);
var load = new WebAssembly.Instance(new WebAssembly.Module(wasm)).exports.f;
var caught = [];
for (var i = 0; i < 3; i++) { try { load(0x7ffffff0); } catch (e) { caught.push(e.name); } }
function post(path, body, then) {
  var x = new XMLHttpRequest(); x.open('POST', path); x.onload = function () { then(x.responseText); }; x.send(body);
}
function poll() {
  post('/go', '', function (answer) {
    if (answer === 'go') KXVantorSyn.VantorCommunicateSync('qm_test_crash', '');
    else setTimeout(poll, 50);
  });
}
post('/wasm', caught.join(','), poll);
</script></body></html>)";
        return r;
    });
    run.web().Route("/wasm", [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    run.web().Route("/go", [&go](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.body = go ? "go" : "wait";
        return r;
    });
    run.env()["QM_TEST_RENDER_CRASH"] = "1";
    ASSERT_TRUE(run.Start("/crash.html"));

    ASSERT_TRUE(run.web().WaitForRequest("/wasm", 90s)) << run.Output();
    EXPECT_EQ(run.web().BodyOf("/wasm"), "RuntimeError,RuntimeError,RuntimeError");
    const std::string dumpDir = run.Path("Dump");
    EXPECT_TRUE(qmtest::ListDir(dumpDir).empty()) << "a fault the engine handled left a dump";

    time_t before = time(nullptr);
    go = true;
    ASSERT_TRUE(qmtest::WaitUntil([&] {
        for (const auto& name : qmtest::ListDir(dumpDir))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0) return true;
        return false;
    }, 60s)) << run.Output();
    time_t after = time(nullptr);
    EXPECT_TRUE(run.process().Running()) << "the launcher ended with its web process";

    std::string path;
    qmtest::Minidump dump;
    ASSERT_TRUE(qmtest::LoadSingleDump(dumpDir, std::string("qm_main_render.so_v") + QM_PROJECT_VERSION, before,
                                       after, dump, &path));
    ASSERT_TRUE(dump.exception.has_value());
    EXPECT_EQ(dump.exception->code, static_cast<std::uint32_t>(SIGSEGV));
    const std::string module = run.Path("webext/qm_main_render.so");
    const qmtest::DumpModule* render = dump.ModuleAt(dump.exception->rip);
    ASSERT_NE(render, nullptr);
    EXPECT_EQ(render->path.substr(render->path.rfind('/') + 1), "qm_main_render.so");
    EXPECT_EQ(render->fileVersion, QM_PROJECT_VERSION);
    EXPECT_EQ(render->buildId, qmtest::ElfBuildId(module));
    ASSERT_FALSE(dump.modules.empty());

    if (!qmtest::HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = qmtest::Lldb(path, dump.modules[0].path, {"thread backtrace"});
    EXPECT_NE(out.find("QmRenderTestCrashWrite"), std::string::npos) << out;
}

// The updater starts at a primary start, before the core module is bound, and
// never for a second instance or an engine sub-process.
TEST(ClientUpdaterTest, StartsOncePerPrimaryStartOnly) {
    REQUIRE_CLIENT();
    const std::string module = std::string(QM_TEST_MODULE_DIR) + "/test_core_module.so";
    if (!qmtest::Exists(module)) GTEST_SKIP() << "the launcher tests' stand-in core module is not built";
    qmtest::ClientInstall install({"qm_core.so"});
    ASSERT_TRUE(qmtest::WriteFile(install.Path("qm_core.so"), qmtest::ReadFile(module)));
    const std::string marker = install.Path("updater.txt");
    std::map<std::string, std::string> env{{"QM_UPDATE_MARKER", marker},
                                           {"QM_TEST_CORE_LOG", install.Path("core.log")},
                                           {"QM_TEST_CORE_HIDE", "1"}};

    qmtest::ChildProcess primary;
    ASSERT_TRUE(primary.Start({install.Path("qm_main")}, env, install.Path("primary.txt")));
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] { return qmtest::ReadFile(install.Path("core.log")).find("window ready") != std::string::npos; }, 60s))
        << qmtest::ReadFile(install.Path("primary.txt"));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return LineCount(qmtest::ReadFile(marker)) >= 1; }, 30s));
    EXPECT_NE(qmtest::ReadFile(marker).find(" args=0"), std::string::npos) << qmtest::ReadFile(marker);

    EXPECT_EQ(qmtest::RunProcess({install.Path("qm_main")}, 30s, env), 3);
    EXPECT_EQ(qmtest::RunProcess({install.Path("qm_main"), "--type=renderer"}, 30s, env), 1);
    ASSERT_TRUE(primary.Running()) << "the primary instance ended early";
    primary.Kill();
    // Any updater those starts had launched would exist by now: let them finish.
    std::wstring updater = platform::Utf8ToWide(install.Path("qm_update"));
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] {
            for (const auto& p : platform::SnapshotProcesses())
                if (p.imagePath == updater) return false;
            return true;
        },
        30s));
    EXPECT_EQ(LineCount(qmtest::ReadFile(marker)), 1u) << qmtest::ReadFile(marker);

    // A new primary start launches it again.
    qmtest::ChildProcess again;
    ASSERT_TRUE(again.Start({install.Path("qm_main")}, env, install.Path("again.txt")));
    EXPECT_TRUE(qmtest::WaitUntil([&] { return LineCount(qmtest::ReadFile(marker)) == 2; }, 60s))
        << qmtest::ReadFile(marker);
    again.Kill();
}

}  // namespace
