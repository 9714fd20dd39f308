#include "launcher/bridge/cef_handler.h"

#include "kxcef/cef3_manager.h"

namespace QNInterface {
namespace QNCEF {

const char CQNCefHandler::kSyncObjectCode[] =
    "var KXVantorSyn;if(!KXVantorSyn)KXVantorSyn = {};(function(){\tKXVantorSyn.VantorCommunicateSync = "
    "function(szReq,szJson)\t{\t\tnative function VantorCommunicateSync();\t\treturn "
    "VantorCommunicateSync(szReq,szJson);\t};})();";

const char CQNCefHandler::kAsyncObjectCode[] =
    "var KXVantorAsyn;if(!KXVantorAsyn)KXVantorAsyn = {};(function(){\tKXVantorAsyn.VantorCommunicateAsyn = "
    "function(szReq,szJson)\t{\t\tnative function VantorCommunicateAsyn();\t\treturn "
    "VantorCommunicateAsyn(szReq,szJson);\t};})();";

void CQNCefHandler::OnRegisterNatives() {
    CCEF3Manager::RegisterJsNativeFunc("KXVantorSyn", kSyncObjectCode);
    CCEF3Manager::RegisterAsyJsNativeFunc("KXVantorAsyn", kAsyncObjectCode);
}

}  // namespace QNCEF
}  // namespace QNInterface
