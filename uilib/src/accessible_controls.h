// Controls a screen reader and the keyboard reach. A skin draws its buttons
// itself, so the toolkit knows nothing of them: each visible button gets a
// stand-in widget over it in the window's client container, with no window or
// input of its own. The stand-in takes the keyboard focus in the toolkit's
// Tab order (the page's view included), shows a focus ring, presses its button
// on Enter or Space once the keyboard brought the focus there (a pointer press
// in the window gives the keys back to the page), and is the button's
// accessible object: a push button (a menu item in a popup menu) named by the
// button's tooltip or text, whose "click" action presses it. UI thread only.
#pragma once

#include "platform/win_types.h"

typedef struct _GtkWidget GtkWidget;

namespace UiLib {
class CControlUI;
class CPaintManagerUI;
namespace detail {

// After a layout of `manager`'s tree in window `hwnd`: stand-ins follow the
// buttons (new ones, moved ones, renamed ones, hidden or gone ones).
void SyncAccessibleControls(CPaintManagerUI* manager, HWND hwnd);
// A pointer press in `toplevel`: the keyboard goes back to
// the page, so a stand-in that held the focus lets it go.
void ReleaseControlFocus(GtkWidget* toplevel);
// The control is going away.
void ForgetAccessibleControl(CPaintManagerUI* manager, CControlUI* control);
// The manager is going away.
void ForgetAccessibleControls(CPaintManagerUI* manager);

}  // namespace detail
}  // namespace UiLib
