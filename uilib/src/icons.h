// Icons (HICON) and cursors (HCURSOR): shared objects that live as long as the
// process, as Windows' shared icons and cursors do.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// The picture of an icon; null for null or unknown handles.
GdkPixbuf* IconPixbuf(HICON icon);
// A fully transparent picture of tray size (a "no icon" tray entry keeps its place).
GdkPixbuf* BlankPixbuf();
// WM_SETICON: sets the small or big icon and returns the previous one.
HICON SetWindowIcon(HWND hwnd, WPARAM which, HICON icon);
GdkCursor* CursorOf(HCURSOR cursor);

}  // namespace detail
}  // namespace UiLib
