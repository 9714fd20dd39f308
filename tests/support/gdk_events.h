// Synthesised GDK input for tests on a display: events built like the X
// server's and queued with gdk_event_put, so they reach widgets through the
// main loop exactly as real input does.
#pragma once

#include <gtk/gtk.h>

namespace qmtest {

// Keys carry the keyboard's hardware code for `keyval`; pointer events carry
// root coordinates derived from the window's origin.
void PutKey(GdkWindow* window, guint keyval, bool press, guint state = 0);
void PutButton(GdkWindow* window, double x, double y, guint button, bool press, guint state = 0);
void PutMotion(GdkWindow* window, double x, double y, guint state = 0);
void PutScroll(GdkWindow* window, double x, double y, GdkScrollDirection direction);
void PutCrossing(GdkWindow* window, bool enter);

}  // namespace qmtest
