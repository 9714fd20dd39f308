#include "launcher/win_main_implement.h"

#include "common/client_config.h"
#include "common/cmdline_parser.h"
#include "common/log_record.h"
#include "common/qm_core_exports.h"
#include "kxcef/cef3_manager.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/front_end_origins.h"
#include "launcher/process_helpers.h"
#include "platform/dynlib.h"
#include "platform/ini.h"
#include "platform/instance_guard.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "uilib/UiLib.h"

namespace {
const char kLog[] = "WinMainImplement";
const wchar_t kCoreModule[] = L"qm_core.so";
}  // namespace

WinMainImplement::WinMainImplement(HINSTANCE instance, std::wstring commandLine)
    : instance_(instance), commandLine_(std::move(commandLine)), exeDir_(platform::ExecutableDir()) {}

WinMainImplement::~WinMainImplement() = default;

int WinMainImplement::Run() {
    CCmdLineParser parser;
    if (!commandLine_.empty()) parser.Parse(commandLine_);

    // The engine's helper processes carry a process type; they skip the guard.
    bool primary = false;
    if (commandLine_.find(L"type=") == std::wstring::npos) {
        platform::GuardResult guard = platform::AcquireInstanceGuard(kInstanceGuardName);
        if (guard == platform::GuardResult::AlreadyHeld) return HandOverToFirstInstance(parser.GetVal(L"start_cid"));
        primary = true;
    }

    int result = 0;
    cefHandler_ = std::make_unique<QNInterface::QNCEF::CQNCefHandler>();
    webWndManager_ = std::make_unique<QNInterface::QNCEF::QNWebWndManager>();
    observer_.SetWebWndManager(webWndManager_.get());
    if (primary) AllowFrontEndOrigins(parser);
    cefReady_ = std::make_unique<bool>(false);

    CCEF3Manager::SetProcessHandler(cefHandler_.get());
    CCEF3Manager::SetJSCallBackHandler(webWndManager_.get());
    *cefReady_ = CCEF3Manager::CEFInit(instance_) < 0;
    if (!*cefReady_) {
        QM_LOG(kLog) << "<Quenor> init cef framework fail! exit...";
        result = 1;
    } else if (primary) {
        UiLib::CPaintManagerUI::SetInstance(instance_);
        if (StartCoreModule()) {
            UiLib::CPaintManagerUI::MessageLoop();
            StopCoreModule();
        } else {
            result = 1;
        }
    }

    if (cefReady_ && *cefReady_) CCEF3Manager::CEFShutDown();
    cefReady_.reset();
    webWndManager_.reset();
    cefHandler_.reset();
    return result;
}

void WinMainImplement::AllowFrontEndOrigins(const CCmdLineParser& switches) {
    std::string list;
    for (const std::string& origin : FrontEndOrigins(switches, DeployConfig::Load())) {
        webWndManager_->AllowOrigin(origin);
        list += (list.empty() ? "" : ", ") + origin;
    }
    QM_LOG(kLog) << "<Quenor> page commands accepted from: " << (list.empty() ? std::string("(none)") : list);
}

int WinMainImplement::HandOverToFirstInstance(const std::wstring& startCid) {
    CClientConfig* config = CClientConfig::Get();
    config->ResolveChannel(platform::WideToAnsi(config->GetChannelId()));
    ChannelInfo channel = config->GetChannelInfo();

    HWND first = UiLib::FindWindowW(kMainWindowClass, channel.displayName.c_str());
    if (first) {
        UiLib::ShowWindow(first, SW_RESTORE);
        UiLib::SetForegroundWindow(first);
        if (!startCid.empty()) {
            platform::WriteIniSection(platform::JoinPath(exeDir_, L"out_start.ini"), L"Start_Cid", {startCid});
            UiLib::PostMessageW(first, kStartChannelMessage, 0, 0);
        }
        QM_LOG(kLog) << "<Quenor> Has already run one instance. exit...";
    }
    return 3;
}

bool WinMainImplement::StartCoreModule() {
    LaunchUpdater(exeDir_);
    std::wstring path = platform::JoinPath(exeDir_, kCoreModule);
    HMODULE core = platform::LoadModule(path);
    if (!core) {
        QM_LOG(kLog) << "<Quenor> cannot load the core module " << platform::WideToAnsi(path) << ": "
                     << platform::LastModuleError() << ". exit...";
        return false;
    }
    auto init = reinterpret_cast<QNInitUIFn>(platform::GetExport(core, "QNInitUI"));
    if (!init) {
        QM_LOG(kLog) << "<Quenor> the core module has no QNInitUI. exit...";
        return false;
    }
    init(&observer_);
    auto create = reinterpret_cast<QNCreateWebWndFn>(platform::GetExport(core, "QNCreateWebWnd"));
    // Without a main window nothing could ever end the message loop.
    if (!create || !create(nullptr, commandLine_.c_str())) {
        QM_LOG(kLog) << "<Quenor> the core module created no main window. exit...";
        return false;
    }
    if (auto start = reinterpret_cast<QNModuleStartFn>(platform::GetExport(core, "QNModuleStart")))
        start(commandLine_.c_str());
    return true;
}

void WinMainImplement::StopCoreModule() {
    // Already loaded: this only finds the module again. It is never unloaded.
    HMODULE core = platform::GetLoadedModule(platform::JoinPath(exeDir_, kCoreModule));
    if (auto stop = reinterpret_cast<QNModuleStopFn>(platform::GetExport(core, "QNModuleStop"))) stop();
}
