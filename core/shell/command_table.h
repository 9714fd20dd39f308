// The page commands of the main window, registered in the table's order.
#pragma once

#include "common/qn_interfaces.h"

void RegisterPageCommands(QNInterface::WND::IQNWebWnd* window);
