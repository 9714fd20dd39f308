#include "core/shell/command_table.h"

#include "core/services/business/wnd_ui_status_business.h"
#include "core/services/nim/nim_business.h"

void RegisterPageCommands(QNInterface::WND::IQNWebWnd* window) {
    using namespace std::placeholders;
    WndUIStatusBusiness* ui = WndUIStatusBusiness::Get();
    window->RegisterCaller("_notify_new_info", "", std::bind(&WndUIStatusBusiness::OnNotifyNewInfo, ui, _1, _2));
    window->RegisterCaller("_min_window", "", std::bind(&WndUIStatusBusiness::OnMinWindow, ui, _1, _2));
    window->RegisterCaller("_close_window", "", std::bind(&WndUIStatusBusiness::OnCloseWindow, ui, _1, _2));
    window->RegisterCaller("_get_client_info", "_get_client_info",
                           std::bind(&WndUIStatusBusiness::OnGetClientInfo, ui, _1, _2));
    NimBusiness::Get()->RegisterCommands(window);  // commands 5 to 24
}
