// CQNCefHandler: the launcher's process handler. In every render process it
// registers the two page functions KXVantorSyn.VantorCommunicateSync and
// KXVantorAsyn.VantorCommunicateAsyn.
#pragma once

#include <string>

#include "kxcef/js_callback.h"

namespace QNInterface {
namespace QNCEF {

class CQNCefHandler : public CProcessHandler {
public:
    void OnRegisterNatives() override;
    void OnBrowserContextReady() override {}

    static const char kSyncObjectCode[];
    static const char kAsyncObjectCode[];

private:
    std::string syncFunctionName_ = "VantorCommunicateSync";
    std::string asyncFunctionName_ = "VantorCommunicateAsyn";
};

}  // namespace QNCEF
}  // namespace QNInterface
