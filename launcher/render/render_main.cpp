// The launcher's part of each web process of the engine: the crash-dump writer
// and the bridge objects, installed exactly as the launcher installs them
// before starting the engine.
#include "kxcef/render_extension.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/bridge/web_wnd_manager.h"
#include "platform/crash_dump.h"

#ifdef QM_TEST_HOOKS
#include <cstdint>
#include <string>

#include "platform/system_info.h"
#include "platform/variant.h"
#endif

namespace {

#ifdef QM_TEST_HOOKS
// Test-only, compiled only into builds configured with -DQM_TEST_HOOKS=ON and
// armed only when the client runs with QM_TEST_RENDER_CRASH=1 in its
// environment: the page's KXVantorSyn.VantorCommunicateSync("qm_test_crash")
// makes this web process fail with an invalid memory write.
volatile int* volatile g_testBadAddress = reinterpret_cast<volatile int*>(std::uintptr_t{0x40});

__attribute__((noinline, noclone, no_sanitize("address", "undefined"))) void QmRenderTestCrashWrite() {
    *g_testBadAddress = 1;
}

class TestHookWebWndManager : public QNInterface::QNCEF::QNWebWndManager {
public:
    bool OnSyncJsCall(int browserId, const std::string& name, std::vector<VARIANT>& args, VARIANT* result) override {
        if (!args.empty() && platform::VariantText(args[0]) == L"qm_test_crash") QmRenderTestCrashWrite();
        return QNWebWndManager::OnSyncJsCall(browserId, name, args, result);
    }
};

QNInterface::QNCEF::QNWebWndManager* NewWebWndManager() {
    if (platform::GetEnv("QM_TEST_RENDER_CRASH") == "1") return new TestHookWebWndManager();
    return new QNInterface::QNCEF::QNWebWndManager();
}
#else
QNInterface::QNCEF::QNWebWndManager* NewWebWndManager() { return new QNInterface::QNCEF::QNWebWndManager(); }
#endif

void InstallLauncherBridge() {
    // First, before the engine's script runtime starts: its fault handlers then
    // go on top of the writer and pass on to it only the faults they do not handle.
    platform::InstallCrashDumpWriterInChild(reinterpret_cast<const void*>(&InstallLauncherBridge));
    // Borrowed by the browser host for the life of the process.
    static auto* handler = new QNInterface::QNCEF::CQNCefHandler();
    static auto* manager = NewWebWndManager();
    CCEF3Manager::SetProcessHandler(handler);
    CCEF3Manager::SetJSCallBackHandler(manager);
}

}  // namespace

KXCEF2_RENDER_EXTENSION(InstallLauncherBridge)
