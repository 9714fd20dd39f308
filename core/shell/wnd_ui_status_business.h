// The page's window and client commands: they act on the shell's windows and
// answer the page with the machine's identity.
#pragma once

#include <string>
#include <vector>

#include "common/qn_interfaces.h"
#include "core/services/business/base_business.h"

class HttpLaunchApp;

class WndUIStatusBusiness : public IBaseBusiness {
public:
    using Request = QNInterface::QNCEF::CEFRequest;
    using Command = PageCommand<WndUIStatusBusiness>;

    // The process-wide instance, created on first use and never destroyed.
    static WndUIStatusBusiness* Get();

    // `identity` answers "_get_client_info" (null: the process-wide HttpLaunchApp).
    explicit WndUIStatusBusiness(HttpLaunchApp* identity = nullptr);

    // The page commands of this business, in registration order.
    static const std::vector<Command>& Commands();
    // Registers every command with `window`, in that order.
    void RegisterCommands(QNInterface::WND::IQNWebWnd* window);

    // Nothing to start or stop.
    bool Init() override { return true; }
    bool Uninit() override { return true; }

    // "_get_client_info": gid, mac, pc name, boot id and version of the client.
    void OnGetClientInfo(const Request& request, const std::string& callbackName);
    // "_notify_new_info": the main window starts flashing its tray icon.
    void OnNotifyNewInfo(const Request& request, const std::string& callbackName);
    // "_min_window": minimises the request's window.
    void OnMinWindow(const Request& request, const std::string& callbackName);
    // "_close_window": minimises and hides the request's window, after the current message.
    void OnCloseWindow(const Request& request, const std::string& callbackName);

private:
    HttpLaunchApp* identity_;
};
