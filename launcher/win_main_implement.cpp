#include "launcher/win_main_implement.h"

#include <chrono>

#include "common/client_config.h"
#include "common/cmdline_parser.h"
#include "common/core_protocol.h"
#include "common/log_record.h"
#include "common/log_text.h"
#include "common/qm_core_exports.h"
#include "kxcef/cef3_manager.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/front_end_origins.h"
#include "launcher/hand_over.h"
#include "launcher/process_helpers.h"
#include "platform/dynlib.h"
#include "platform/instance_guard.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/runtime_dir.h"
#include "platform/state_dirs.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "uilib/UiLib.h"

namespace {
const char kLog[] = "WinMainImplement";
const wchar_t kCoreModule[] = L"qm_core.so";
// A running instance that is still starting answers once its window exists.
constexpr std::chrono::milliseconds kHandOverWait{20000};

// The browser host's form of the exceptions: "host=sha256,host=any".
std::string CertificateExceptionsValue(const std::vector<TlsException>& exceptions) {
    std::string value;
    for (const TlsException& e : exceptions)
        value += (value.empty() ? "" : ",") + e.host + "=" + (e.sha256.empty() ? std::string("any") : e.sha256);
    return value;
}
}  // namespace

WinMainImplement::WinMainImplement(HINSTANCE instance, std::wstring commandLine)
    : instance_(instance), commandLine_(std::move(commandLine)), exeDir_(platform::ExecutableDir()) {}

WinMainImplement::~WinMainImplement() = default;

int WinMainImplement::Run() {
    CCmdLineParser parser;
    if (!commandLine_.empty()) parser.Parse(commandLine_);

    // The engine's helper processes carry a process-type switch; they skip the guard.
    bool primary = false;
    bool guarded = false;
    if (!platform::IsEngineHelperProcess()) {
        platform::InstanceGuard guard(platform::SessionGuardName(core_protocol::kGuard));
        switch (guard.Acquire()) {
            case platform::GuardResult::AlreadyHeld:
                return HandOverToFirstInstance(guard, parser);
            case platform::GuardResult::Acquired:
                guarded = true;
                break;
            case platform::GuardResult::HeldByStranger:
                // Nobody else may keep this user's client from starting.
                QM_LOG(kLog) << "<Quenor> the single-instance name " << guard.Name() << " is not ours ("
                             << guard.Detail() << "); starting without the single-instance guard";
                break;
            case platform::GuardResult::Failed:
                QM_LOG(kLog) << "<Quenor> the single-instance guard " << guard.Name() << " could not be created ("
                             << guard.Detail() << "); starting without it";
                break;
        }
        primary = true;
    }

    int result = 0;
    cefHandler_ = std::make_unique<QNInterface::QNCEF::CQNCefHandler>();
    webWndManager_ = std::make_unique<QNInterface::QNCEF::QNWebWndManager>();
    observer_.SetWebWndManager(webWndManager_.get());
    if (primary) LogStateDirs();
    cefReady_ = std::make_unique<bool>(false);

    CCEF3Manager::SetProcessHandler(cefHandler_.get());
    CCEF3Manager::SetJSCallBackHandler(webWndManager_.get());
    if (primary) ApplyDeployment(parser);
    EnsureRuntimeDir();
    *cefReady_ = CCEF3Manager::CEFInit(instance_) < 0;
    if (!*cefReady_) {
        QM_LOG(kLog) << "<Quenor> init cef framework fail! exit...";
        result = 1;
    } else if (primary) {
        // The engine's processes start up while the core module builds its windows.
        CCEF3Manager::StartEngineProcesses();
        UiLib::CPaintManagerUI::SetInstance(instance_);
        if (StartCoreModule()) {
            if (guarded) {
                platform::ReceiveHandOvers(
                    [ini = platform::ProcessStateDirs().startIniPath](const platform::HandOverEvent& event) {
                        AcceptHandOver(ini, event);
                    });
            }
            UiLib::CPaintManagerUI::MessageLoop();
            StopCoreModule();
        } else {
            result = 1;
        }
    }

    if (cefReady_ && *cefReady_) CCEF3Manager::CEFShutDown();
    cefReady_.reset();
    if (!privateRuntimeDir_.empty()) platform::RemovePrivateRuntimeDir(privateRuntimeDir_);
    webWndManager_.reset();
    cefHandler_.reset();
    return result;
}

void WinMainImplement::EnsureRuntimeDir() {
    // The engine keeps its sockets in the session's runtime folder; started
    // outside a login session there is none, and its web process cannot start.
    // Set before the engine (and GLib, which reads it once) looks; it is this
    // process's own and goes when the process ends.
    if (!platform::GetEnv("XDG_RUNTIME_DIR").empty()) return;
    std::string why;
    std::string dir = platform::MakePrivateRuntimeDir(&why);
    if (dir.empty()) {
        QM_LOG(kLog) << "<Quenor> no XDG_RUNTIME_DIR, and no private runtime folder could be made ("
                     << EscapeForLog(why) << "): the browser engine may not start";
        return;
    }
    platform::SetEnv("XDG_RUNTIME_DIR", dir);
    privateRuntimeDir_ = dir;
    QM_LOG(kLog) << "<Quenor> no XDG_RUNTIME_DIR: the browser engine uses the private runtime folder "
                 << EscapeForLog(dir);
}

void WinMainImplement::LogStateDirs() {
    const platform::StateDirs& dirs = platform::ProcessStateDirs();
    std::wstring exe = platform::ExecutablePath();
    QM_LOG(kLog) << "<Quenor> files written " << (dirs.besideExecutable ? "beside the executable" : "to the user's folders")
                 << ": log " << platform::WideToAnsi(dirs.logDir) << ", dumps " << platform::WideToAnsi(dirs.dumpDir)
                 << ", browser profile " << platform::WideToAnsi(dirs.ProfileDirFor(exe)) << ", web cache "
                 << platform::WideToAnsi(dirs.CacheDirFor(exe)) << ", start channel "
                 << platform::WideToAnsi(dirs.startIniPath);
    if (!dirs.besideExecutable)
        QM_LOG(kLog) << "<Quenor> not beside the executable: "
                     << EscapeForLog(platform::WideToAnsi(platform::Utf8ToWide(dirs.whyNotBeside)));
}

void WinMainImplement::ApplyDeployment(const CCmdLineParser& switches) {
    DeployConfig deploy = DeployConfig::Load();
    std::string list;
    for (const std::string& origin : FrontEndOrigins(switches, deploy)) {
        webWndManager_->AllowOrigin(origin);
        list += (list.empty() ? "" : ", ") + origin;
    }
    QM_LOG(kLog) << "<Quenor> page commands accepted from: " << (list.empty() ? std::string("(none)") : list);

    if (!deploy.launchSchemes.empty()) {
        std::string schemes;
        for (const std::string& s : deploy.launchSchemes) schemes += (schemes.empty() ? "" : ",") + s;
        CCEF3Manager::AppendCmdLine(kLaunchSchemesSwitch, schemes);
    }

    // TLS errors fail every load unless the deployment names an exception.
    if (deploy.tlsExceptions.empty()) {
        QM_LOG(kLog) << "<Quenor> TLS certificate errors fail the load for every host";
        return;
    }
    CCEF3Manager::AppendCmdLine(kCertificateExceptionsSwitch, CertificateExceptionsValue(deploy.tlsExceptions));
    for (const TlsException& e : deploy.tlsExceptions)
        QM_LOG(kLog) << "<Quenor> TLS certificate errors accepted for host " << e.host << " by the deployment file: "
                     << (e.sha256.empty() ? std::string("any certificate") : "certificate SHA-256 " + e.sha256);
}

int WinMainImplement::HandOverToFirstInstance(platform::InstanceGuard& guard, const CCmdLineParser& switches) {
    // The running instance restores its window, writes the start channel to
    // "out_start.ini" and reports it; the request travels on the guard itself.
    HandOverRequest request;
    request.hasStartCid = switches.HasKey(L"start_cid");
    request.startCid = switches.GetVal(L"start_cid");
    request.activationToken = ActivationTokenOfThisStart();
    switch (guard.HandOver(EncodeHandOver(request), kHandOverWait)) {
        case platform::HandOverResult::Delivered:
            QM_LOG(kLog) << "<Quenor> Has already run one instance. exit...";
            break;
        case platform::HandOverResult::NotAcknowledged:
            QM_LOG(kLog) << "<Quenor> Has already run one instance (" << guard.Detail()
                         << "); it did not confirm the hand-over in time. exit...";
            break;
        case platform::HandOverResult::Failed:
            QM_LOG(kLog) << "<Quenor> Has already run one instance (" << guard.Detail()
                         << "); nothing could be handed over. exit...";
            break;
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
