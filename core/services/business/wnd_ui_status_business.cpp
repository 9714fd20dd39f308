#include "core/services/business/wnd_ui_status_business.h"

#include <json/value.h>

#include "core/services/identity/http_launch_app.h"
#include "core/services/reply/js_reply.h"

WndUIStatusBusiness* WndUIStatusBusiness::Get() {
    static WndUIStatusBusiness* instance = new WndUIStatusBusiness();  // lives until the process ends
    return instance;
}

WndUIStatusBusiness::WndUIStatusBusiness(HttpLaunchApp* identity) : identity_(identity) {}

void WndUIStatusBusiness::OnGetClientInfo(const Request& request, const std::string& callbackName) {
    HttpLaunchApp* identity = identity_ ? identity_ : HttpLaunchApp::Get();
    std::string version = identity->Version();
    std::string mac, bootId, gid, pcName;
    identity->GetIdentity(mac, bootId, gid, pcName);

    Json::Value data(Json::objectValue);
    data["gid"] = gid;
    data["mac"] = mac;
    data["pc_name"] = pcName;
    data["boot_id"] = bootId;
    data["version"] = version;
    ReplyToRequest(request, data, callbackName);
}
