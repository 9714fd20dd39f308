#include "core/services/business/wnd_ui_status_business.h"

#include <json/value.h>

#include "core/services/identity/http_launch_app.h"
#include "core/services/reply/js_reply.h"

WndUIStatusBusiness* WndUIStatusBusiness::Get() {
    static WndUIStatusBusiness* instance = new WndUIStatusBusiness();  // lives until the process ends
    return instance;
}

WndUIStatusBusiness::WndUIStatusBusiness(HttpLaunchApp* identity) : identity_(identity) {}

const std::vector<WndUIStatusBusiness::Command>& WndUIStatusBusiness::Commands() {
    static const std::vector<Command> commands = {
        {"_notify_new_info", "", &WndUIStatusBusiness::OnNotifyNewInfo},
        {"_min_window", "", &WndUIStatusBusiness::OnMinWindow},
        {"_close_window", "", &WndUIStatusBusiness::OnCloseWindow},
        {"_get_client_info", "_get_client_info", &WndUIStatusBusiness::OnGetClientInfo},
    };
    return commands;
}

void WndUIStatusBusiness::RegisterCommands(QNInterface::WND::IQNWebWnd* window) {
    RegisterCommandTable(this, Commands(), window);
}

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
