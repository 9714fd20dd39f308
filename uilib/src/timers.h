// Window timers: GLib timeouts that deliver WM_TIMER to the window procedure.
#pragma once

#include "platform/win_types.h"

namespace UiLib {
namespace detail {
void KillAllTimers(HWND hwnd);
}  // namespace detail
}  // namespace UiLib
