#include "engine/app.h"

#include "log.h"

CCEF3APP::CCEF3APP() { binding_.app = this; }

void CCEF3APP::OnContextInitialized() {
    kxcef::LogInfo(kxcef::kLogApp, "BrowserProcess Create Success ,CEF contexthas been initialized.");
    if (binding_.processHandler) binding_.processHandler->OnBrowserContextReady();
}

void CCEF3APP::OnWebKitInitialized() {
    kxcef::LogInfo(kxcef::kLogApp, "RenderProcess Create Success ,CEF Webkit initialized.");
    if (binding_.processHandler) binding_.processHandler->OnRegisterNatives();
    if (CJSCallbackHandler* h = binding_.jsHandler) {
        using Delegate = CCEF3JSDelegate<CJSCallbackHandler, CJSCallbackHandler>;
        syncCallDelegates_.Add(Delegate(h, &CJSCallbackHandler::OnSyncJsCall));
        commandArgumentDelegates_.Add(Delegate(h, &CJSCallbackHandler::OnPrepareJsCommand));
        commandResultDelegates_.Add(Delegate(h, &CJSCallbackHandler::OnJsCommandResult));
    }
}
