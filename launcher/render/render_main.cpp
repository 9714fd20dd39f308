// The launcher's bridge objects inside each web process of the engine: they are
// installed exactly as the launcher installs them before starting the engine.
#include "kxcef/render_extension.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/bridge/web_wnd_manager.h"

namespace {

void InstallLauncherBridge() {
    // Borrowed by the browser host for the life of the process.
    static auto* handler = new QNInterface::QNCEF::CQNCefHandler();
    static auto* manager = new QNInterface::QNCEF::QNWebWndManager();
    CCEF3Manager::SetProcessHandler(handler);
    CCEF3Manager::SetJSCallBackHandler(manager);
}

}  // namespace

KXCEF2_RENDER_EXTENSION(InstallLauncherBridge)
