// The browser host as the benchmarks start it: with the launcher's bridge
// objects as its handlers.
#pragma once

#include <stdlib.h>

#include "kxcef/cef3_manager.h"
#include "launcher/bridge/cef_handler.h"
#include "launcher/bridge/web_wnd_manager.h"

namespace qmbench {

// The host started as the client starts it, its web extension the one of
// this build (KXBENCH_RENDER_EXT); the page-call manager, or null when the
// host did not start.
inline QNInterface::QNCEF::QNWebWndManager* StartBridgeHost(const char* logSeverity) {
    setenv("KXCEF2_WEBEXT_DIR", KXBENCH_RENDER_EXT, 1);
    setenv("KXCEF2_LOG_SEVERITY", logSeverity, 0);
    static QNInterface::QNCEF::CQNCefHandler processHandler;
    static QNInterface::QNCEF::QNWebWndManager manager;
    CCEF3Manager::SetProcessHandler(&processHandler);
    CCEF3Manager::SetJSCallBackHandler(&manager);
    return CCEF3Manager::CEFInit(nullptr) < 0 ? &manager : nullptr;
}

}  // namespace qmbench
