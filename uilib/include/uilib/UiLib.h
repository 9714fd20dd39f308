// The skinned-window library: Win32-style windows and messages over GTK 3, a
// control tree laid out from XML skin files, timers, hooks and the tray icon.
#pragma once

#include "uilib/core.h"
#include "uilib/win32.h"
#include "uilib/window.h"
