// CCEF3APP: the process's application object. It carries what both sides of
// the bridge need in every process: the installed callback interfaces, the
// render side's delegate lists, the two native-extension slots and the extra
// switch table.
#pragma once

#include <map>
#include <string>

#include "kxcef/cef_base.h"
#include "kxcef/js_callback.h"

class CCEF3APP : public CefBaseRefCounted {
public:
    // The borrowed callback interfaces (never owned, null until set).
    struct JsHandlerBinding {
        CJSCallbackHandler* jsHandler = nullptr;
        CProcessHandler* processHandler = nullptr;
        CCEF3APP* app = nullptr;
    };
    // A native extension registered by the host program: object name and code.
    struct NativeSlot {
        std::string objectName;
        std::string code;
        bool IsSet() const { return !objectName.empty() && !code.empty(); }
    };

    CCEF3APP();

    JsHandlerBinding& binding() { return binding_; }
    CCEF3JSDelegateList& SyncCallDelegates() { return syncCallDelegates_; }
    CCEF3JSDelegateList& CommandArgumentDelegates() { return commandArgumentDelegates_; }
    CCEF3JSDelegateList& CommandResultDelegates() { return commandResultDelegates_; }
    NativeSlot& SyncSlot() { return syncSlot_; }
    NativeSlot& AsyncSlot() { return asyncSlot_; }
    std::map<std::string, std::string>& ExtraSwitches() { return extraSwitches_; }

    // Browser process, once the engine is up: logs and tells the process handler.
    void OnContextInitialized();
    // Render process, once per process: the process handler registers its
    // natives, the page-call handler's operations become the render-side
    // delegates.
    void OnWebKitInitialized();

private:
    ~CCEF3APP() override = default;

    JsHandlerBinding binding_;
    CCEF3JSDelegateList syncCallDelegates_;
    CCEF3JSDelegateList commandArgumentDelegates_;
    CCEF3JSDelegateList commandResultDelegates_;
    NativeSlot syncSlot_;
    NativeSlot asyncSlot_;
    std::map<std::string, std::string> extraSwitches_;
    KXCEF_IMPLEMENT_REFCOUNTING(CCEF3APP);
};
