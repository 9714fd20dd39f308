// Notification-area icons, one per (window, id): a StatusNotifierItem over
// D-Bus where the desktop shows those, an XEmbed tray icon otherwise, moving
// between the two as the desktop's watcher comes and goes. The owner window
// hears the same callback messages either way.
#pragma once

#include "platform/win_types.h"

namespace UiLib {
namespace detail {
void RemoveTrayIconsOf(HWND hwnd);
// The window's icons ask for attention (or stop asking); UI thread.
void SetTrayAttentionOf(HWND hwnd, bool attention);
}  // namespace detail
}  // namespace UiLib
