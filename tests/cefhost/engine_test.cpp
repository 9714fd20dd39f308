// Engine start and stop: the prepared command line (registry rule, extra
// switches), sub-process detection, repeated start and shutdown.
#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "launcher/bridge/cef_handler.h"
#include "tests/cefhost/support/recorders.h"
#include "tests/support/main_loop.h"
#include "tests/support/process.h"

namespace qmtest {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
const char kTessaly[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n";

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KXCEF2_WEBEXT_DIR", (std::string(KXTEST_EXT_ROOT) + "/echo").c_str(), 1);
        UseRegistry(std::string(kHeader));
    }
    void TearDown() override {
        CCEF3Manager::CEFShutDown();
        unsetenv("QM_REGISTRY_FILE");
    }
    void UseRegistry(const std::string& text) {
        std::string path = dir_.File("machine.reg");
        ASSERT_TRUE(qmtest::WriteFile(path, text));
        setenv("QM_REGISTRY_FILE", path.c_str(), 1);
    }
    std::vector<std::string> Start() {
        CCEF3Manager::SetProcessHandler(&processHandler_);
        return StartPrepared();
    }
    std::vector<std::string> StartPrepared() {
        EXPECT_LT(CCEF3Manager::CEFInit(nullptr), 0);
        return CCEF3Manager::GetPreparedCommandLine();
    }
    static std::vector<std::string> Expected(const std::vector<std::string>& gpu,
                                             const std::vector<std::string>& extras) {
        std::vector<std::string> line{"--no-proxy-server", "enable-media-stream=1"};
        line.insert(line.end(), gpu.begin(), gpu.end());
        line.insert(line.end(), extras.begin(), extras.end());
        for (const char* s : {"--expose-gc", "--disable-extensions", "ppapi-flash-path=PepperFlash\\pepflashplayer.dll",
                              "ppapi-flash-version=20.0.0.306", "--ignore-certificate-errors"})
            line.push_back(s);
        return line;
    }

    qmtest::TempDir dir_;
    QNInterface::QNCEF::CQNCefHandler processHandler_;
};

TEST_F(EngineTest, DisableGpuInTheRegistryAddsBothGpuSwitchesAfterTheMediaSwitch) {
    UseRegistry(std::string(kHeader) + kTessaly + "\"DisableGPU\"=dword:00000001\r\n");
    EXPECT_EQ(Start(), Expected({"disable-gpu", "disable-gpu-compositing"}, {}));
}

TEST_F(EngineTest, DisableGpuZeroAMissingValueOrAMissingKeyAddNothing) {
    UseRegistry(std::string(kHeader) + kTessaly + "\"DisableGPU\"=dword:00000000\r\n");
    EXPECT_EQ(Start(), Expected({}, {}));
    CCEF3Manager::CEFShutDown();
    UseRegistry(std::string(kHeader) + kTessaly + "\"NetbarId\"=\"7\"\r\n");
    EXPECT_EQ(Start(), Expected({}, {}));
    CCEF3Manager::CEFShutDown();
    UseRegistry(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n"
                                       "\"DisableGPU\"=dword:00000001\r\n");
    EXPECT_EQ(Start(), Expected({}, {}));
    CCEF3Manager::CEFShutDown();
    setenv("QM_REGISTRY_FILE", dir_.File("absent.reg").c_str(), 1);
    EXPECT_EQ(Start(), Expected({}, {}));
}

TEST_F(EngineTest, ExtraSwitchesComeSortedByNameAndTheLastValueWins) {
    CCEF3Manager::SetProcessHandler(&processHandler_);
    CCEF3Manager::AppendCmdLine("zeta", "1");
    CCEF3Manager::AppendCmdLine("--alpha", "x");
    CCEF3Manager::AppendCmdLine("mid", "first");
    CCEF3Manager::AppendCmdLine("mid", "second");
    EXPECT_EQ(StartPrepared(), Expected({}, {"--alpha=x", "mid=second", "zeta=1"}));
}

TEST_F(EngineTest, TheEngineStartsStopsAndStartsAgain) {
    for (int round = 0; round < 2; ++round) {
        Start();
        RECT rect{0, 0, 320, 240};
        BrowserRecorder rec;
        CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(nullptr, rect, "about:blank", false, false, 0);
        ASSERT_TRUE(h);
        rec.Attach(h.get());
        ASSERT_TRUE(PumpMainLoopUntil([&] { return rec.Count(CEF3_EVENT_CREATED) == 1; })) << "round " << round;
        CCEF3Manager::CEFShutDown();
        EXPECT_EQ(KXCEF2_LiveBrowserCountForTesting(), 0);
        EXPECT_EQ(h->GetBrowser(), nullptr);
        // Without an instance nothing is created and nothing is found.
        EXPECT_FALSE(CCEF3Manager::CreateBrowser(nullptr, rect, "about:blank", false, false, 0));
        std::vector<VARIANT> none;
        EXPECT_FALSE(CCEF3Manager::SendJsCommand("f", none, 1));
        EXPECT_FALSE(CCEF3Manager::CloseAllBrowser(nullptr));
        EXPECT_TRUE(PumpMainLoopUntil([] { return KXCEF2_LiveProfileCountForTesting() == 0; }));
    }
}

TEST_F(EngineTest, ASubProcessCommandLineEndsAtOnceWithZero) {
    std::string out;
    int code = qmtest::RunProcess({KXTEST_PROBE, "--type=renderer", "--lang=zh-CN"}, std::chrono::seconds(20), {}, &out);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("CEFInit=0"), std::string::npos) << out;
    EXPECT_EQ(out.find("CefInitiaLize"), std::string::npos) << "a sub-process never starts the engine";
}

TEST_F(EngineTest, TheBrowserProcessReportsSuccessOrFailureAndGoesOnEitherWay) {
    std::string out;
    int code = qmtest::RunProcess({KXTEST_PROBE, "create-first"}, std::chrono::seconds(20), {}, &out);
    EXPECT_EQ(code, 10) << out;
    EXPECT_NE(out.find("CreateBrowser=null"), std::string::npos) << out;
    EXPECT_NE(out.find("CefInitiaLize Success"), std::string::npos) << out;
    EXPECT_EQ(out.find("early=1"), std::string::npos) << "a switch added before any instance is ignored";
    code = qmtest::RunProcess({KXTEST_PROBE}, std::chrono::seconds(20), {{"DISPLAY", ":98765"}}, &out);
    EXPECT_EQ(code, 10) << out;
    EXPECT_NE(out.find("CefInitiaLize Failed"), std::string::npos) << out;
    EXPECT_NE(out.find("CEFInit=-1"), std::string::npos) << out;
}

TEST_F(EngineTest, TheGpuRuleWritesItsDebuggerLine) {
    std::string reg = dir_.File("gpu.reg");
    ASSERT_TRUE(qmtest::WriteFile(reg, std::string(kHeader) + kTessaly + "\"DisableGPU\"=dword:00000002\r\n"));
    std::string out;
    qmtest::RunProcess({KXTEST_PROBE}, std::chrono::seconds(20), {{"QM_REGISTRY_FILE", reg}}, &out);
    EXPECT_NE(out.find("Disable GPU"), std::string::npos) << out;
    EXPECT_NE(out.find("disable-gpu disable-gpu-compositing"), std::string::npos) << out;
}

}  // namespace
}  // namespace qmtest
