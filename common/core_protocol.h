// The names and window messages through which the launcher, the core module and
// a second start of the client reach each other. Separately built modules rely
// on these values: they must not change.
#pragma once

#include "platform/win_types.h"

namespace core_protocol {

// The single-instance guard (a named event on Windows); each user and login
// session gets its own (platform::SessionGuardName).
constexpr const char* kGuard = "PX_843E199F-B0EC-41B9-8DB7-DB3928E6523C";
// The class of the core module's main window; a second start finds the window by it.
constexpr const wchar_t* kMainWindowClass = L"RW_843E199F-B0EC-41B9-8DB7-DB3928E6523C";

// Messages of the main window.
// The tray icon's callback: lParam is the mouse message (WM_LBUTTONUP shows the
// window, WM_RBUTTONUP opens the tray menu).
constexpr UINT kTrayCallbackMessage = 2024;
// Start flashing the tray icon until the user clicks it.
constexpr UINT kStartFlashMessage = 2025;
// "out_start.ini" holds a start channel handed over by a second start.
constexpr UINT kStartChannelMessage = 2026;

// Message of every web window: move the window by (signed low word, signed high
// word) of lParam; a drag of the page's band sends it.
constexpr UINT kMoveByOffsetMessage = 20025;

}  // namespace core_protocol
