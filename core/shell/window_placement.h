// The main window's size and place between runs: kept in the user's state
// folder when the client ends, and fitted to the screen of the next run (a
// smaller screen, a monitor that is gone).
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

struct WindowPlacement {
    RECT rect;               // the window's normal (not maximised) frame
    bool hasPlace = false;   // rect's left and top are a place to go back to
    bool maximized = false;
};

// The section body as written ("left=10", "top=20", ...); false when the
// lines hold no usable size (missing, malformed or out-of-range numbers).
bool ParseWindowPlacement(const std::vector<std::wstring>& lines, WindowPlacement* placement);
std::vector<std::wstring> FormatWindowPlacement(const WindowPlacement& placement);

bool LoadWindowPlacement(const std::wstring& path, WindowPlacement* placement);
bool SaveWindowPlacement(const std::wstring& path, const WindowPlacement& placement);

// `rect` made to fit `work`: no larger than it, no smaller than the minimum
// (unless the work area is), moved inside it. Without a place it is centred.
RECT FitToWorkArea(const RECT& rect, bool hasPlace, const RECT& work, int minWidth, int minHeight);
