// What the library asks a Wayland compositor itself, past the toolkit: the
// user's attention for a window (xdg-activation, requested without any input
// of the user's, which compositors show as "demands attention" or "is ready"
// rather than giving the window the focus). On another display (X11) every
// function does nothing. UI thread only.
#pragma once

#include <gtk/gtk.h>

namespace UiLib {
namespace detail {
namespace wayland {

bool DisplayIsWayland();
// Asks for the user's attention to the top-level window `toplevel` (mapped).
void RequestAttention(GtkWidget* toplevel);

}  // namespace wayland
}  // namespace detail
}  // namespace UiLib
