// The five exports through which the launcher drives the core module.
#include <curl/curl.h>

#include "common/client_config.h"
#include "common/cmdline_parser.h"
#include "common/log_record.h"
#include "common/log_text.h"
#include "common/qm_core_exports.h"
#include "core/shell/wnd_ui_status_business.h"
#include "core/services/identity/http_launch_app.h"
#include "core/services/nim/nim_business.h"
#include "core/services/player/player_scan.h"
#include "core/services/reply/main_web_wnd.h"
#include "core/shell/command_table.h"
#include "core/shell/desktop_shortcut.h"
#include "core/shell/main_wnd.h"
#include "core/shell/module_state.h"
#include "common/start_address.h"
#include "core/shell/test_hooks.h"
#include "core/shell/ui_task_dispatcher.h"
#include "platform/debug_output.h"
#include "platform/text.h"

#define QN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
const char kLog[] = "QNModuleInterface";
constexpr UINT kBusinessStartDelayMs = 500;
}  // namespace

QN_EXPORT bool QNInitUI(IQNObserverUI* observer) {
    HostObserver() = observer;
    UITaskDispatcher::Get()->EnsureWindow();
    return true;
}

QN_EXPORT QNInterface::WND::IQNWebWnd* QNCreateWebWnd(void* /*reserved*/, const wchar_t* commandLineText) {
    std::wstring commandLine = commandLineText ? commandLineText : L"";
    CCmdLineParser switches;
    if (!commandLine.empty()) switches.Parse(commandLine);

    CClientConfig* config = CClientConfig::Get();
    std::string cid = switches.HasKey(L"cid") ? platform::WideToAnsi(switches.GetVal(L"cid"))
                                              : platform::WideToAnsi(config->GetChannelId());
    config->ResolveChannel(cid);

    StartAddress start = BuildStartAddress(switches, cid, config->GetChannelInfo());
    if (start.fromSwitch) config->launchArguments = commandLine;
    platform::OutputDebugStringW(L"<qm> " + MaskUrlsIn(start.address));

    LaunchParameters& launch = Launch();
    launch.cid = start.cid;
    if (switches.HasKey(L"ccid")) launch.ccid = platform::WideToAnsi(switches.GetVal(L"ccid"));
    if (switches.HasKey(L"tgid")) launch.tgid = platform::WideToAnsi(switches.GetVal(L"tgid"));
    if (switches.HasKey(L"pid")) launch.pid = platform::WideToAnsi(switches.GetVal(L"pid"));
    qmtesthooks::Arm(switches);

    QNInterface::WND::IWebWndManager* registry = HostObserver() ? HostObserver()->GetWebWndManager() : nullptr;
    QNInterface::WND::IQNWebWnd* window = CreateMainWindow(registry, start.address);
    if (window) {
        RegisterPageCommands(window);
        SetMainWebWnd(window);
    }
    return window;
}

QN_EXPORT bool QNModuleStart(const wchar_t* /*commandLine*/) {
    HttpLaunchApp::InitLibraries();
    HttpLaunchApp::Get()->Prime();
    CClientConfig* config = CClientConfig::Get();
    WriteDesktopShortcut(config->GetChannelInfo().productName, config->launchArguments);

    const LaunchParameters& launch = Launch();
    QM_LOG(kLog) << "<qm> launch:" << EscapeForLog(launch.cid);
    SendLaunchReport(launch.cid, launch.ccid, launch.tgid, launch.pid);

    // The page may call before the businesses start: its voice commands wait.
    NimBusiness::Get()->HoldCommandsUntilInit();
    UITaskDispatcher::Get()->PostDelayedTask(
        [] {
            WndUIStatusBusiness::Get()->Init();
            NimBusiness::Get()->Init();
            qmtesthooks::OnBusinessesStarted();
        },
        kBusinessStartDelayMs);
    return true;
}

QN_EXPORT bool QNModuleStop() {
    // A scan's answers go through the browser host, which the launcher shuts
    // down next: the scan under way ends first, and none starts after it.
    PlayerScan::Get()->Stop();
    WndUIStatusBusiness::Get()->Uninit();
    NimBusiness::Get()->Uninit();
    // libcurl may not be cleaned up while a report still uses it on a worker
    // (an endpoint that never answers holds one for its whole time-out).
    if (int running = HttpLaunchApp::Get()->ReportsRunning()) {
        QM_LOG(kLog) << "<qm> " << running << " launch report(s) still being sent; libcurl is left set up";
    } else {
        curl_global_cleanup();
    }
    return true;
}

QN_EXPORT void* QNCreateWnd() { return nullptr; }
