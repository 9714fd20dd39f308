// Posting and sending messages, locally and to other processes' windows.
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_procs.h"
#include "window_registry.h"
#include "x11_bridge.h"

namespace UiLib {

using namespace detail;

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && IsForeignHandle(hwnd)) {
        // Parameters travel as 32-bit values through the X server.
        return OnUiThread([&]() -> BOOL {
            if (!GtkReady()) return FALSE;
            return x11::SendRequest(ForeignXid(hwnd), x11::Request::Post, message, wParam, lParam) ? TRUE : FALSE;
        });
    }
    if (message == WM_QUIT) return QueuePost(nullptr, WM_QUIT, wParam, lParam) ? TRUE : FALSE;
    if (!hwnd) return TRUE;  // a thread message that no window handles
    if (!IsLocalWindow(hwnd)) return FALSE;
    return QueuePost(hwnd, message, wParam, lParam) ? TRUE : FALSE;
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && IsForeignHandle(hwnd)) {
        // No reply can come back from another process: delivered like a post.
        PostMessageW(hwnd, message, wParam, lParam);
        return 0;
    }
    if (!IsLocalWindow(hwnd)) return 0;
    if (IsUiThread() || !HasUiThread()) return DispatchToWindow(hwnd, message, wParam, lParam);
    return QueueSendAndWait(hwnd, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { QueuePost(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

LONG GetMessageTime() { return CurrentMessageTime(); }

}  // namespace UiLib
