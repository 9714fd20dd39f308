// Moving a window by dragging a band of its browser: a mouse hook per browser
// view turns left-button drags inside the band into move-by-offset messages
// (core_protocol::kMoveByOffsetMessage) to the web window, or, where the
// compositor alone places windows (Wayland), into the compositor's own move.
// A double click in the band maximises the window or restores it, as one on a
// caption does.
#pragma once

#include <array>

#include "platform/win_types.h"

struct DragHookRecord {
    HWND browserWnd = nullptr;  // key
    HWND moveTarget = nullptr;  // the web window
    HHOOK hook = nullptr;
    bool capturing = false;
    POINT last;
    std::array<RECT, 5> dragRects{};
    // The last press in a drag rectangle that a second one may make a double click of.
    bool pressed = false;
    LONG pressTime = 0;
    POINT pressPoint;
};

// Installs the mouse hook for `record.browserWnd`; the hook handle, or null.
HHOOK InstallDragHook(const DragHookRecord& record);
void RemoveDragHook(HHOOK hook);
// The hook procedure (exposed for tests).
LRESULT DragHookProc(int code, WPARAM wParam, LPARAM lParam);
