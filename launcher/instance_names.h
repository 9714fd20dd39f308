// The names through which two starts of the client find each other.
#pragma once

#include "platform/win_types.h"

namespace instance_names {

// The single-instance guard (a named event on Windows); each user and login
// session gets its own (platform::SessionGuardName).
constexpr const char* kGuard = "PX_843E199F-B0EC-41B9-8DB7-DB3928E6523C";
// The core module's main window class.
constexpr const wchar_t* kMainWindowClass = L"RW_843E199F-B0EC-41B9-8DB7-DB3928E6523C";
// Tells the main window that "out_start.ini" holds a handed-over start channel.
constexpr UINT kStartChannelMessage = 2026;

}  // namespace instance_names
