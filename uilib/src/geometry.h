// Window rectangles. Windows answers geometry questions at once, X answers
// them later: each window keeps the rectangle last asked for, and the
// server's reports replace it only once no request of ours is in flight.
#pragma once

#include "window_registry.h"

namespace UiLib {
namespace detail {

// From the toolkit: the client origin moved (screen coordinates), the client
// area got a new size.
void OnToplevelConfigured(HWND hwnd, int clientX, int clientY);
void OnClientResized(HWND hwnd, int width, int height);
void OnChildAllocated(HWND hwnd);

// Moves and/or sizes a top-level window (frame, screen coordinates) or a
// child (parent client coordinates); sends WM_MOVE / WM_SIZE on a change.
void ApplyGeometry(WndObject& window, int x, int y, int cx, int cy, UINT flags);
// Screen position of the client area's top-left corner.
POINT ClientOrigin(const WndObject& window);
RECT WindowRectOf(const WndObject& window);
// The work area of the monitor that holds most of `rect` (the primary one
// when nothing is known).
RECT WorkAreaFor(const RECT* rect);

}  // namespace detail
}  // namespace UiLib
