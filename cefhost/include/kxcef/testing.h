// Test seams of the browser host library. Not for production callers.
#pragma once

#include <string>

#include "kxcef/export.h"
#include "platform/win_types.h"

class CCEF3Handler;

// Replaces how the library opens addresses outside the browser (pop-ups,
// downloads); null restores the system's opener. Returns the previous one.
using KXCEF2UriOpener = bool (*)(const std::string& uri);
extern "C" KXCEF2_API KXCEF2UriOpener KXCEF2_SetUriOpenerForTesting(KXCEF2UriOpener opener);
// Forgets the addresses opened in the last minute (their number is limited).
extern "C" KXCEF2_API void KXCEF2_ResetLaunchLimitForTesting();

// Browsers not yet closed, and profile contexts still alive (a context lives
// until its last browser has closed and its cookies are written).
extern "C" KXCEF2_API int KXCEF2_LiveBrowserCountForTesting();
extern "C" KXCEF2_API int KXCEF2_LiveProfileCountForTesting();
// Lets the engine processes of StartEngineProcesses go now, as when no
// browser takes them in time.
extern "C" KXCEF2_API void KXCEF2_ExpireSpareViewForTesting();

// Off-screen rendering: how often windowless browsers asked `host` to repaint
// so far, and the repaint timer of a windowless browser (period in ms and
// ticks so far; false when the handler has no off-screen rendering).
extern "C" KXCEF2_API long KXCEF2_OsrInvalidationsForTesting(HWND host);
extern "C" KXCEF2_API bool KXCEF2_OsrTimerForTesting(CCEF3Handler* handler, int* periodMs, long long* ticks);

// Sees every key event the browsers' client is given (OnKeyEvent), before the
// client acts on it: the browser's id, the native message and the virtual key.
// Null stops it. Returns the previous observer.
using KXCEF2KeyEventObserver = void (*)(int browserId, UINT nativeMessage, int windowsKeyCode);
extern "C" KXCEF2_API KXCEF2KeyEventObserver
KXCEF2_SetKeyEventObserverForTesting(KXCEF2KeyEventObserver observer);
