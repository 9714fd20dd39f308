// Notification-area icons: one GtkStatusIcon (XEmbed tray) per (window, id).
#pragma once

#include "platform/win_types.h"

namespace UiLib {
namespace detail {
void RemoveTrayIconsOf(HWND hwnd);
}  // namespace detail
}  // namespace UiLib
