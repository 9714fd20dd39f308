// The main window as the services see it: replies raised by module events
// (no request to answer) go to its browser. The core shell sets it once the
// main window exists.
#pragma once

#include "common/qn_interfaces.h"

void SetMainWebWnd(QNInterface::WND::IQNWebWnd* window);
QNInterface::WND::IQNWebWnd* MainWebWnd();
// Browser id of the main window's browser; -1 without a main window or browser.
int MainBrowserId();
