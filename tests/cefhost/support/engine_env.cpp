#include "tests/cefhost/support/engine_env.h"

#include <cstdlib>
#include <filesystem>

#include "kxcef/cef3_manager.h"
#include "kxcef/testing.h"
#include "launcher/bridge/cef_handler.h"
#include "platform/paths.h"
#include "tests/support/main_loop.h"

namespace qmtest {
namespace {
RecordingJsHandler g_jsHandler;
QNInterface::QNCEF::CQNCefHandler g_processHandler;
}  // namespace

RecordingJsHandler& JsHandler() { return g_jsHandler; }

void UseExtension(const std::string& name) {
    std::string dir = std::string(KXTEST_EXT_ROOT) + "/" + name;
    setenv("KXCEF2_WEBEXT_DIR", dir.c_str(), 1);
}

bool WaitEngineIdle() {
    return PumpMainLoopUntil([] { return KXCEF2_LiveBrowserCountForTesting() == 0 && KXCEF2_LiveProfileCountForTesting() == 0; },
                     std::chrono::seconds(20));
}

std::string ProfileDir() {
    std::wstring exe = platform::ExecutablePath();
    return platform::NativePath(platform::JoinPath(platform::JoinPath(platform::DirPart(exe), L"tmp"),
                                                   platform::FileStem(exe)));
}

void EngineEnvironment::SetUp() {
    std::error_code ec;
    std::filesystem::remove_all(ProfileDir(), ec);
    UseExtension("echo");
    CCEF3Manager::SetProcessHandler(&g_processHandler);
    CCEF3Manager::SetJSCallBackHandler(&g_jsHandler);
    ASSERT_LT(CCEF3Manager::CEFInit(nullptr), 0);
}

void EngineEnvironment::TearDown() {
    CCEF3Manager::CEFShutDown();
}

}  // namespace qmtest
