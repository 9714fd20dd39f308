// GTK interop for the browser host only: where a window's native children go.
// Nothing but the browser host includes this header. GetContainer, GetToplevel
// and RegisterChildWidget run on the UI thread only (asserted in debug builds).
#pragma once

#include <gtk/gtk.h>

#include "uilib/win32.h"

namespace UiLib {
namespace Native {

// The container of a window's client area (a GtkFixed, client coordinates).
UILIB_API GtkWidget* GetContainer(HWND hwnd);
// The window's top-level GtkWindow.
UILIB_API GtkWidget* GetToplevel(HWND hwnd);
// Gives a native child widget (a browser view) a window handle whose parent is
// `parent`: GetParent, GetWindowRect, ShowWindow, SetWindowPos, IsWindow and
// mouse hooks then work on it. The handle dies with the widget.
UILIB_API HWND RegisterChildWidget(GtkWidget* widget, HWND parent);
UILIB_API HWND FromWidget(GtkWidget* widget);
UILIB_API GtkWidget* ToWidget(HWND hwnd);
// A cursor handle for a cursor name of the toolkit ("default", "pointer",
// "text", ...), for SetClassCursor / SetCursor.
UILIB_API HCURSOR CursorFromName(const char* name);

}  // namespace Native
}  // namespace UiLib
