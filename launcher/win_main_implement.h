// WinMainImplement: the launcher's run. It tells a browser sub-process from a
// normal start, keeps a single instance (a second one hands its start channel
// to the first), starts the browser engine, drives the core module's life
// cycle around the message loop, and tears down in order.
#pragma once

#include <memory>
#include <string>

#include "launcher/bridge/web_wnd_manager.h"
#include "platform/win_types.h"

class CCmdLineParser;
namespace platform {
class InstanceGuard;
}

namespace QNInterface::QNCEF {
class CQNCefHandler;
}

class WinMainImplement {
public:
    WinMainImplement(HINSTANCE instance, std::wstring commandLine);
    ~WinMainImplement();

    // Exit code: 0 normal end, 1 engine not started or nothing to run, 3 another instance runs.
    int Run();


private:
    // Exit code 3, with the reason in the log.
    int HandOverToFirstInstance(platform::InstanceGuard& guard, const CCmdLineParser& switches);
    // Names the folders the client writes to, once at start.
    void LogStateDirs();
    // Gives the engine a private runtime folder when the session has none.
    void EnsureRuntimeDir();
    // The bridge serves page commands only to the front-end's pages, and TLS
    // errors fail loads except for the deployment file's exceptions.
    void ApplyDeployment(const CCmdLineParser& switches);
    // False when the core module gave the message loop nothing to end it.
    bool StartCoreModule();
    void StopCoreModule();

    HINSTANCE instance_;
    std::wstring commandLine_;
    std::wstring exeDir_;
    std::string privateRuntimeDir_;  // made by EnsureRuntimeDir, removed at the end
    std::unique_ptr<QNInterface::QNCEF::CQNCefHandler> cefHandler_;
    std::unique_ptr<QNInterface::QNCEF::QNWebWndManager> webWndManager_;
    std::unique_ptr<bool> cefReady_;
    QNObserver::QNObserverUI observer_;
};
