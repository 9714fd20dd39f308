// Icons (HICON) and cursors (HCURSOR): shared objects that live as long as the
// process, as Windows' shared icons and cursors do.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

// The pictures of an icon: as loaded, and at twice the pixels for a screen
// scale of 2 ("<id>@2x.png", else drawn at that size); null members for null
// or unknown handles.
struct IconPictures {
    GdkPixbuf* normal = nullptr;
    GdkPixbuf* doubled = nullptr;
};
IconPictures PicturesOf(HICON icon);
// The same pictures with a mark that asks for the user's attention.
IconPictures AttentionPicturesOf(HICON icon);
GdkPixbuf* IconPixbuf(HICON icon);
// A fully transparent picture of tray size (a "no icon" tray entry keeps its place).
GdkPixbuf* BlankPixbuf();
// WM_SETICON: sets the small or big icon and returns the previous one.
HICON SetWindowIcon(HWND hwnd, WPARAM which, HICON icon);
GdkCursor* CursorOf(HCURSOR cursor);

}  // namespace detail
}  // namespace UiLib
