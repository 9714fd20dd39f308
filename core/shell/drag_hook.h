// Moving a window by dragging a band of its browser: a mouse hook per browser
// view turns left-button drags inside the band into move-by-offset messages
// (core_protocol::kMoveByOffsetMessage) to the web window.
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
};

// Installs the mouse hook for `record.browserWnd`; the hook handle, or null.
HHOOK InstallDragHook(const DragHookRecord& record);
void RemoveDragHook(HHOOK hook);
// The hook procedure (exposed for tests).
LRESULT DragHookProc(int code, WPARAM wParam, LPARAM lParam);
