// Win32-style window functions over UiLib windows, with the Windows numbers of
// messages, styles and flags (platform/win_types.h). One GTK main thread owns
// every window; PostMessageW may be called from any thread, SendMessageW from
// another thread waits until the UI thread has handled the message.
#pragma once

#include <string>

#include "platform/win_types.h"
#include "uilib/export.h"

struct HDC__;
using HDC = HDC__*;  // a drawing context (a cairo context during a paint)
struct HMENU__;
using HMENU = HMENU__*;

namespace UiLib {

// --- Messages ------------------------------------------------------------------
// Local windows: queued for the UI thread in order. A top-level window of
// another process (found by FindWindowW, on X11): delivered through the X server.
// WM_QUIT ends the message loop instead of reaching a window.
UILIB_API BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
UILIB_API LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
UILIB_API void PostQuitMessage(int exitCode);
// Time (ms, monotonic) of the message being handled, like GetMessageTime.
UILIB_API LONG GetMessageTime();

// WM_PAINT carries the drawing context of the paint in wParam (an HDC) and the
// dirty client rectangle in lParam (a const RECT*); both are valid during the call.
// WM_CREATE carries the creation parameter of CreateWindowExW in lParam.

// The frame of a window. Where a point falls is asked with WM_NCHITTEST (lParam:
// screen point; the result is an HT* code): DefWindowProcW answers HTCLIENT, a
// skinned window answers from its skin (the "sizebox" edges, the "caption"
// band but for its buttons). A left press outside the client part reaches the
// window as WM_NCLBUTTONDOWN (wParam: the HT* code, lParam: screen point)
// instead of WM_LBUTTONDOWN, a second one within the double-click time as
// WM_NCLBUTTONDBLCLK. DefWindowProcW hands a press on an edge or the caption to
// the desktop, which resizes or moves the window with the pointer, and turns a
// double click on the caption of a window with WS_MAXIMIZEBOX into
// WM_SYSCOMMAND SC_MAXIMIZE, or SC_RESTORE when it is maximised.
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
constexpr UINT WM_NCLBUTTONDBLCLK = 0x00A3;
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTLEFT = 10;
constexpr LRESULT HTRIGHT = 11;
constexpr LRESULT HTTOP = 12;
constexpr LRESULT HTTOPLEFT = 13;
constexpr LRESULT HTTOPRIGHT = 14;
constexpr LRESULT HTBOTTOM = 15;
constexpr LRESULT HTBOTTOMLEFT = 16;
constexpr LRESULT HTBOTTOMRIGHT = 17;
// Smallest size (client area) the user can make a top-level window by its edges.
UILIB_API BOOL SetMinTrackSize(HWND hwnd, int cx, int cy);

// --- Window procedures ------------------------------------------------------------
UILIB_API LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
UILIB_API LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Replaces the window's procedure and returns the previous one (GWLP_WNDPROC).
UILIB_API WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc);
UILIB_API WNDPROC GetWindowProc(HWND hwnd);

// Raw windows with a procedure of their own ("QMWindow").
struct WNDCLASSW {
    WNDPROC lpfnWndProc = nullptr;
    HINSTANCE hInstance = nullptr;
    const wchar_t* lpszClassName = nullptr;
};
UILIB_API WORD RegisterClassW(const WNDCLASSW* windowClass);
UILIB_API HWND CreateWindowExW(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style,
                               int x, int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                               void* param);
UILIB_API BOOL DestroyWindow(HWND hwnd);

// --- Window state -------------------------------------------------------------------
UILIB_API BOOL IsWindow(HWND hwnd);
UILIB_API BOOL IsWindowVisible(HWND hwnd);
UILIB_API BOOL IsIconic(HWND hwnd);
// SW_MINIMIZE: with a window manager the window is iconified; without one (a
// bare X server) it is unmapped until restored. IsIconic is true in both cases,
// and IsWindowVisible stays true, as for a minimised window on Windows.
// A window of another process (from FindWindowW) is shown by its owner.
UILIB_API BOOL ShowWindow(HWND hwnd, int command);
UILIB_API BOOL SetForegroundWindow(HWND hwnd);
// The next activation of a window of this process (ShowWindow that activates,
// SetForegroundWindow) presents the desktop's token of a start of the program:
// XDG_ACTIVATION_TOKEN (Wayland) or DESKTOP_STARTUP_ID (X11) as that start
// found them. A compositor that stops windows from taking the focus by
// themselves lets such a request through. Empty: the next activation asks as usual.
UILIB_API void SetActivationToken(const std::string& token);
// Whether the window is maximised.
UILIB_API BOOL IsZoomed(HWND hwnd);
// Whether this program places its top-level windows itself (X11). Where the
// compositor alone places them (Wayland), SetWindowPos and MoveWindow keep a
// top-level window where it is (sizes still apply), GetWindowRect gives it at
// (0, 0), and the user moves it through WM_NCLBUTTONDOWN with HTCAPTION.
UILIB_API BOOL CanPlaceWindows();
// The work area of the monitor that holds most of `rect` (the primary one when
// none does): the monitor less panels and docks.
UILIB_API BOOL GetWorkAreaOf(const RECT& rect, RECT* work);
UILIB_API HWND GetParent(HWND hwnd);
UILIB_API BOOL GetWindowRect(HWND hwnd, RECT* rect);  // screen coordinates
UILIB_API BOOL GetClientRect(HWND hwnd, RECT* rect);
UILIB_API BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
UILIB_API BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
UILIB_API int GetWindowTextW(HWND hwnd, wchar_t* buffer, int maxCount);
UILIB_API BOOL SetWindowTextW(HWND hwnd, const wchar_t* text);
UILIB_API std::wstring GetWindowClassName(HWND hwnd);
UILIB_API BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
UILIB_API BOOL ScreenToClient(HWND hwnd, POINT* point);
UILIB_API BOOL ClientToScreen(HWND hwnd, POINT* point);
UILIB_API HWND WindowFromPoint(POINT screenPoint);
// A top-level window by class and title: this process's own, else (on X11
// only) one of another process by WM_CLASS and _NET_WM_NAME.
UILIB_API HWND FindWindowW(const wchar_t* className, const wchar_t* title);
// The same among this process's own top-level windows only (no display is asked).
UILIB_API HWND FindOwnWindow(const wchar_t* className, const wchar_t* title);
// The window and everything in it stop taking drops (links, files) dragged
// from other programs; a drag over it is refused. FALSE for no such window.
UILIB_API BOOL RevokeDragDrop(HWND hwnd);

// --- Focus, capture, keyboard, mouse -----------------------------------------------------
UILIB_API HWND SetFocus(HWND hwnd);
UILIB_API HWND GetFocus();
// Capture routes this process's mouse messages to `hwnd` (client coordinates
// of `hwnd`); while a button is held the X server keeps the pointer on the
// pressed window anyway, so no server grab is taken.
UILIB_API HWND SetCapture(HWND hwnd);
UILIB_API BOOL ReleaseCapture();
UILIB_API HWND GetCapture();
UILIB_API short GetAsyncKeyState(int virtualKey);  // high bit set while the key is down
UILIB_API short GetKeyState(int virtualKey);       // low bit: toggle state (caps/num lock)
UILIB_API BOOL GetCursorPos(POINT* point);
UILIB_API UINT GetDoubleClickTime();
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXDOUBLECLK = 36;
constexpr int SM_CYDOUBLECLK = 37;
UILIB_API int GetSystemMetrics(int index);
constexpr DWORD TME_LEAVE = 0x00000002;
constexpr DWORD TME_CANCEL = 0x80000000;
struct TRACKMOUSEEVENT {
    DWORD dwFlags = 0;
    HWND hwndTrack = nullptr;
};
UILIB_API BOOL TrackMouseEvent(TRACKMOUSEEVENT* track);
UILIB_API BOOL SystemParametersInfoW(UINT action, UINT param, void* out, UINT winIni);

// --- Timers ------------------------------------------------------------------------------
// WM_TIMER with wParam = id reaches the window's procedure every `elapse` ms.
UILIB_API UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, void* reserved = nullptr);
UILIB_API BOOL KillTimer(HWND hwnd, UINT_PTR id);

// --- Hooks -----------------------------------------------------------------------------------
// WH_MOUSE: the procedure sees every mouse message of the UI thread's windows
// (native children such as browser views included) before they are handled.
struct MOUSEHOOKSTRUCT {
    POINT pt;  // screen coordinates
    HWND hwnd = nullptr;
    UINT wHitTestCode = 0;
    UINT_PTR dwExtraInfo = 0;
};
UILIB_API HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
UILIB_API LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
UILIB_API BOOL UnhookWindowsHookEx(HHOOK hook);

// --- Icons, cursors, tray ---------------------------------------------------------------------
// Icon `resourceId` of a module: "<module dir>/Skin/icons/<id>.png".
UILIB_API HICON LoadIconW(HINSTANCE module, int resourceId);
// Standard cursors (IDC_*), shared for the life of the process.
constexpr int IDC_ARROW = 32512;
constexpr int IDC_IBEAM = 32513;
constexpr int IDC_WAIT = 32514;
constexpr int IDC_CROSS = 32515;
constexpr int IDC_SIZENWSE = 32642;
constexpr int IDC_SIZENESW = 32643;
constexpr int IDC_SIZEWE = 32644;
constexpr int IDC_SIZENS = 32645;
constexpr int IDC_SIZEALL = 32646;
constexpr int IDC_NO = 32648;
constexpr int IDC_HAND = 32649;
UILIB_API HCURSOR LoadCursorW(HINSTANCE module, int cursorId);
UILIB_API void SetClassCursor(HWND hwnd, HCURSOR cursor);
UILIB_API HCURSOR SetCursor(HCURSOR cursor);

struct NOTIFYICONDATAW {
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = nullptr;
    wchar_t szTip[128] = {};
};
// The notification-area icon: a tray icon; left and right button presses and
// releases reach hWnd as uCallbackMessage with lParam WM_LBUTTONUP / WM_RBUTTONUP
// (and the DOWN messages), wParam uID.
// Where the desktop shows them: as a StatusNotifierItem on the session bus
// when a StatusNotifierWatcher with a host runs there, else as an XEmbed tray
// icon; an icon follows the watcher as it comes and goes. A host's primary
// click ("Activate") reaches hWnd as WM_LBUTTONDOWN and WM_LBUTTONUP, a request
// for the icon's own menu ("ContextMenu") as WM_RBUTTONDOWN and WM_RBUTTONUP.
// While a status notifier host shows the icon, an icon set to none keeps its
// picture: flashing shows there through FlashWindowEx.
UILIB_API BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data);
// The skinned popup window that is the icon's menu. Hosts that draw menus
// themselves offer its visible buttons as items (labelled with their texts);
// choosing one sends that button's "click" notification to the window, as a
// click on it would.
UILIB_API BOOL SetNotifyIconMenu(HWND hwnd, UINT id, HWND menu);
enum class NotifyIconHost { Nobody, XEmbed, StatusNotifier };
// Who shows the icon (hWnd, uID) right now: an XEmbed tray that embedded it,
// a status notifier watcher that accepted it, or nobody (yet).
UILIB_API NotifyIconHost GetNotifyIconHost(HWND hwnd, UINT id);
// Whether the icon (hWnd, uID) is embedded in an XEmbed tray host right now.
UILIB_API BOOL IsNotifyIconEmbedded(HWND hwnd, UINT id);
// Screen rectangle of an embedded XEmbed icon (for placing a menu beside it).
UILIB_API BOOL Shell_NotifyIconGetRect(HWND hwnd, UINT id, RECT* rect);

// Asking for the user's attention: any flag but FLASHW_STOP sets the urgency
// hint of hwnd's top-level window (the taskbar shows it) and puts its tray
// icons in their attention state ("NeedsAttention" of a status notifier item);
// FLASHW_STOP clears both. Returns whether the window asked for attention before.
constexpr DWORD FLASHW_STOP = 0;
constexpr DWORD FLASHW_CAPTION = 0x1;
constexpr DWORD FLASHW_TRAY = 0x2;
constexpr DWORD FLASHW_ALL = 0x3;
constexpr DWORD FLASHW_TIMER = 0x4;
constexpr DWORD FLASHW_TIMERNOFG = 0xC;
struct FLASHWINFO {
    UINT cbSize = sizeof(FLASHWINFO);
    HWND hwnd = nullptr;
    DWORD dwFlags = 0;
    UINT uCount = 0;
    DWORD dwTimeout = 0;
};
UILIB_API BOOL FlashWindowEx(const FLASHWINFO* info);

// --- Process ---------------------------------------------------------------------------------
// SIGTERM and SIGINT post `message` to `hwnd` (instead of ending the process at once).
UILIB_API void PostMessageOnTerminationSignal(HWND hwnd, UINT message);

}  // namespace UiLib
