// The real qm_main with stand-in core modules: export order, exit codes, the
// single-instance hand-over and the sub-process path.
#include <gtest/gtest.h>


#include <thread>

#include "platform/ini.h"
#include "platform/text.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;

namespace {

const std::string kCmdCid = "*cid:\"83302ACB1052\"";
const std::string kCmdUrl = "*url:\"http://127.0.0.1:8000/\"";

class Launcher : public ::testing::Test {
protected:
    // An installation whose core module is `module` (from the test build), or none.
    explicit Launcher(const char* module = "test_core_module.so") : install_({"qm_core.so"}) {
        if (module) {
            qmtest::WriteFile(install_.Path("qm_core.so"),
                              qmtest::ReadFile(std::string(QM_TEST_MODULE_DIR) + "/" + module));
        }
    }
    std::map<std::string, std::string> Env(std::map<std::string, std::string> extra = {}) const {
        extra["QM_TEST_CORE_LOG"] = install_.Path("core.log");
        return extra;
    }
    std::vector<std::string> Args(std::initializer_list<std::string> args) const {
        std::vector<std::string> v{install_.Path("qm_main")};
        v.insert(v.end(), args);
        return v;
    }
    std::string CoreLog() const { return qmtest::ReadFile(install_.Path("core.log")); }
    bool CoreLogHas(const std::string& text, std::chrono::milliseconds timeout) const {
        return qmtest::WaitUntil([&] { return CoreLog().find(text) != std::string::npos; }, timeout);
    }

    qmtest::ClientInstall install_;
};

class LauncherWithoutCore : public Launcher {
protected:
    LauncherWithoutCore() : Launcher(nullptr) {}
};

class LauncherWithoutInit : public Launcher {
protected:
    LauncherWithoutInit() : Launcher("test_no_init_module.so") {}
};

}  // namespace

TEST_F(Launcher, DrivesTheCoreModuleInOrderWithTheCommandLineAsGiven) {
    qmtest::ChildProcess client;
    ASSERT_TRUE(client.Start(Args({kCmdCid, kCmdUrl}), Env({{"QM_TEST_CORE_QUIT_MS", "300"}}),
                             install_.Path("out.txt")));
    ASSERT_EQ(client.Wait(60s), 0) << qmtest::ReadFile(install_.Path("out.txt"));
    const std::string cmd = kCmdCid + " " + kCmdUrl;
    std::vector<std::string> expected = {"QNInitUI manager=yes", "QNCreateWebWnd " + cmd, "window ready",
                                         "QNModuleStart " + cmd, "QNModuleStop"};
    EXPECT_EQ(qmtest::Lines(CoreLog()), expected);
}

TEST_F(Launcher, SecondInstanceRestoresTheFirstAndHandsOverItsStartChannel) {
    qmtest::ChildProcess first;
    ASSERT_TRUE(first.Start(Args({}), Env({{"QM_TEST_CORE_HIDE", "1"}}), install_.Path("first.txt")));
    ASSERT_TRUE(CoreLogHas("window ready", 60s)) << qmtest::ReadFile(install_.Path("first.txt"));

    EXPECT_EQ(qmtest::RunProcess(Args({"*start_cid:ABC"}), 30s, Env()), 3);
    EXPECT_EQ(platform::ReadIniSection(platform::Utf8ToWide(install_.Path("out_start.ini")), L"Start_Cid"),
              std::vector<std::wstring>{L"ABC"});
    // The window was shown again before the message arrived, and it arrived once.
    ASSERT_TRUE(CoreLogHas("2026 visible=1", 20s)) << CoreLog();
    std::this_thread::sleep_for(500ms);
    std::string log = CoreLog();
    EXPECT_EQ(log.find("2026"), log.rfind("2026"));
    EXPECT_NE(qmtest::DailyLogs(install_.dir()).find("<Quenor> Has already run one instance. exit..."), std::string::npos);

    // Without the switch only the restore happens: no new message.
    EXPECT_EQ(qmtest::RunProcess(Args({}), 30s, Env()), 3);
    std::this_thread::sleep_for(500ms);
    log = CoreLog();
    EXPECT_EQ(log.find("2026"), log.rfind("2026"));
    EXPECT_TRUE(first.Running());
}

TEST_F(Launcher, StartCidWithoutAValueWritesAnEmptySectionAndStillTellsTheWindow) {
    qmtest::ChildProcess first;
    ASSERT_TRUE(first.Start(Args({}), Env(), install_.Path("first.txt")));
    ASSERT_TRUE(CoreLogHas("window ready", 60s)) << qmtest::ReadFile(install_.Path("first.txt"));
    ASSERT_TRUE(qmtest::WriteFile(install_.Path("out_start.ini"), "[Start_Cid]\r\nOLD\r\n"));

    EXPECT_EQ(qmtest::RunProcess(Args({"*start_cid"}), 60s, Env()), 3);
    // The hand-over is confirmed only after the window handled it.
    EXPECT_NE(CoreLog().find("2026 visible=1"), std::string::npos) << CoreLog();
    std::string ini = qmtest::ReadFile(install_.Path("out_start.ini"));
    EXPECT_NE(ini.find("[Start_Cid]"), std::string::npos) << ini;
    EXPECT_EQ(platform::ReadIniSection(platform::Utf8ToWide(install_.Path("out_start.ini")), L"Start_Cid"),
              std::vector<std::wstring>{});
}

TEST_F(Launcher, OnlyARealTypeSwitchMarksASubProcessThatSkipsTheGuard) {
    qmtest::ChildProcess first;
    ASSERT_TRUE(first.Start(Args({}), Env(), install_.Path("first.txt")));
    ASSERT_TRUE(CoreLogHas("window ready", 60s));
    // "type=" inside a value is a normal start: a second instance, 3.
    EXPECT_EQ(qmtest::RunProcess(Args({"*x:abctype=renderer"}), 30s, Env()), 3);
    EXPECT_EQ(qmtest::RunProcess(Args({"*url:\"http://127.0.0.1:8000/?type=renderer\""}), 30s, Env()), 3);
    // The engine's helper switch is a sub-process: no guard, no UI, 1.
    EXPECT_EQ(qmtest::RunProcess(Args({"--type=gpu-process"}), 30s, Env()), 1);
    std::string logs = qmtest::DailyLogs(install_.dir());
    EXPECT_NE(logs.find("<Quenor> init cef framework fail! exit..."), std::string::npos);
    EXPECT_NE(logs.find("<Quenor> Has already run one instance. exit..."), std::string::npos);
    std::string log = CoreLog();
    EXPECT_EQ(log.find("QNInitUI"), log.rfind("QNInitUI")) << "a sub-process bound the core module";
}

TEST_F(LauncherWithoutCore, MissingCoreModuleEndsWithCodeOneAndALogLine) {
    EXPECT_EQ(qmtest::RunProcess(Args({}), 60s, Env()), 1);
    EXPECT_NE(qmtest::DailyLogs(install_.dir()).find("<Quenor> cannot load the core module"), std::string::npos);
}

TEST_F(LauncherWithoutInit, CoreModuleWithoutInitEndsWithCodeOneAndALogLine) {
    EXPECT_EQ(qmtest::RunProcess(Args({}), 60s, Env()), 1);
    EXPECT_NE(qmtest::DailyLogs(install_.dir()).find("<Quenor> the core module has no QNInitUI. exit..."), std::string::npos);
}
