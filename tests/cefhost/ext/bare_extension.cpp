// The "bare" web-process extension of the browser host's tests: the host
// program's process handler only, no page-call handler in the web process.
#include "kxcef/render_extension.h"
#include "launcher/bridge/cef_handler.h"

namespace {

void Install() {
    static auto* processHandler = new QNInterface::QNCEF::CQNCefHandler();
    CCEF3Manager::SetProcessHandler(processHandler);
}

}  // namespace

KXCEF2_RENDER_EXTENSION(Install)
