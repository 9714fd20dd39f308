// A skinned popup window that serves as a tray icon's menu, seen as a list of
// items for hosts that draw menus themselves: its visible buttons in layout
// order, and choosing one sends that button's "click" notification, as a click
// on the window would. UI thread only.
#pragma once

#include <vector>

#include "platform/win_types.h"
#include "tray/dbus_menu.h"

namespace UiLib {
namespace detail {

// Items numbered from 1 in layout order; empty when `menu` is not a live skinned window.
std::vector<DbusMenuItem> MenuWindowItems(HWND menu);
// Sends "click" from the button of item `id`; false when there is none.
bool ChooseMenuWindowItem(HWND menu, int id);

}  // namespace detail
}  // namespace UiLib
