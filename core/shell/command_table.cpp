#include "core/shell/command_table.h"

#include "core/shell/wnd_ui_status_business.h"
#include "core/services/nim/nim_business.h"

void RegisterPageCommands(QNInterface::WND::IQNWebWnd* window) {
    WndUIStatusBusiness::Get()->RegisterCommands(window);  // commands 1 to 4
    NimBusiness::Get()->RegisterCommands(window);          // commands 5 to 24
}
