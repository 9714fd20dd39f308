#include "core/shell/wnd_ui_status_business.h"

#include "common/core_protocol.h"
#include "core/services/identity/http_launch_app.h"
#include "core/services/reply/js_reply.h"
#include "core/shell/base_wnd.h"
#include "core/shell/main_wnd.h"
#include "core/shell/ui_task_dispatcher.h"
#include "uilib/UiLib.h"

namespace {

HWND WindowOf(QNInterface::WND::IQNWebWnd* window) {
    auto* base = dynamic_cast<QNInterface::WND::IQNBaseWnd*>(window);
    return base ? base->GetHWND() : nullptr;
}

}  // namespace

WndUIStatusBusiness* WndUIStatusBusiness::Get() {
    static WndUIStatusBusiness* instance = new WndUIStatusBusiness();  // lives until the process ends
    return instance;
}

WndUIStatusBusiness::WndUIStatusBusiness(HttpLaunchApp* identity) : identity_(identity) {}

void WndUIStatusBusiness::OnGetClientInfo(const Request& request, const std::string& callbackName) {
    HttpLaunchApp* identity = identity_ ? identity_ : HttpLaunchApp::Get();
    ReplyToRequest(request, identity->ClientInfo(), callbackName);
}

void WndUIStatusBusiness::OnNotifyNewInfo(const Request&, const std::string&) {
    if (CQNMainWnd* main = MainWindow()) {
        if (main->GetHWND()) UiLib::PostMessageW(main->GetHWND(), core_protocol::kStartFlashMessage, 0, 0);
    }
}

void WndUIStatusBusiness::OnMinWindow(const Request& request, const std::string&) {
    HWND hwnd = WindowOf(request.window);
    if (hwnd && UiLib::IsWindow(hwnd)) UiLib::ShowWindow(hwnd, SW_MINIMIZE);
}

void WndUIStatusBusiness::OnCloseWindow(const Request& request, const std::string&) {
    // Deferred: the page's call returns first, the window hides after the current message.
    Request copy = request;
    UITaskDispatcher::Get()->PostDelayedTask(
        [copy] {
            HWND hwnd = WindowOf(copy.window);
            if (!hwnd || !UiLib::IsWindow(hwnd)) return;
            // The main window stays in reach where no tray shows its icon.
            if (CQNMainWnd* main = MainWindow(); main && main->GetHWND() == hwnd) {
                main->CloseToTray(true);
                return;
            }
            UiLib::ShowWindow(hwnd, SW_MINIMIZE);
            UiLib::ShowWindow(hwnd, SW_HIDE);
        },
        0);
}

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
