#include "window_procs.h"

#include <map>
#include <mutex>

#include "icons.h"
#include "message_queue.h"
#include "runtime.h"
#include "toplevel.h"
#include "uilib/win32.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {
std::mutex g_classLock;
std::map<std::wstring, WNDPROC> g_classes;

bool EdgeOf(WPARAM hit, GdkWindowEdge* edge) {
    switch (static_cast<LRESULT>(hit)) {
    case HTLEFT: *edge = GDK_WINDOW_EDGE_WEST; return true;
    case HTRIGHT: *edge = GDK_WINDOW_EDGE_EAST; return true;
    case HTTOP: *edge = GDK_WINDOW_EDGE_NORTH; return true;
    case HTBOTTOM: *edge = GDK_WINDOW_EDGE_SOUTH; return true;
    case HTTOPLEFT: *edge = GDK_WINDOW_EDGE_NORTH_WEST; return true;
    case HTTOPRIGHT: *edge = GDK_WINDOW_EDGE_NORTH_EAST; return true;
    case HTBOTTOMLEFT: *edge = GDK_WINDOW_EDGE_SOUTH_WEST; return true;
    case HTBOTTOMRIGHT: *edge = GDK_WINDOW_EDGE_SOUTH_EAST; return true;
    default: return false;
    }
}

bool HasMaximizeBox(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    return window && (window->style & WS_MAXIMIZEBOX);
}
}  // namespace

LRESULT DispatchToWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return 0;
    WNDPROC proc = window->proc ? window->proc : &UiLib::DefWindowProcW;
    return proc(hwnd, message, wParam, lParam);
}

WNDPROC ClassProcedure(const std::wstring& className) {
    std::lock_guard<std::mutex> lock(g_classLock);
    auto it = g_classes.find(className);
    return it == g_classes.end() ? nullptr : it->second;
}

void RegisterClassProcedure(const std::wstring& className, WNDPROC proc) {
    std::lock_guard<std::mutex> lock(g_classLock);
    g_classes[className] = proc;
}

}  // namespace detail

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    using namespace detail;
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & kScMask) {
        case SC_MINIMIZE:
            ShowWindow(hwnd, SW_MINIMIZE);
            return 0;
        case SC_MAXIMIZE:
            ShowWindow(hwnd, kSwMaximize);
            return 0;
        case SC_RESTORE:
            ShowWindow(hwnd, SW_RESTORE);
            return 0;
        case SC_CLOSE:
            SendMessageW(hwnd, WM_CLOSE, 0, 0);
            return 0;
        default:
            return 0;
        }
    case WM_SETICON:
        return reinterpret_cast<LRESULT>(SetWindowIcon(hwnd, wParam, reinterpret_cast<HICON>(lParam)));
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_NCLBUTTONDOWN: {
        GdkWindowEdge edge = GDK_WINDOW_EDGE_NORTH;
        if (static_cast<LRESULT>(wParam) == HTCAPTION) BeginMoveDrag(hwnd);
        else if (EdgeOf(wParam, &edge)) BeginResizeDrag(hwnd, edge);
        return 0;
    }
    case WM_NCLBUTTONDBLCLK:
        if (static_cast<LRESULT>(wParam) == HTCAPTION && HasMaximizeBox(hwnd))
            SendMessageW(hwnd, WM_SYSCOMMAND, IsZoomed(hwnd) ? SC_RESTORE : SC_MAXIMIZE, lParam);
        return 0;
    default:
        return 0;
    }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!proc) return 0;
    return proc(hwnd, message, wParam, lParam);
}

WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc) {
    return detail::OnUiThread([&]() -> WNDPROC {
        detail::WndObject* window = detail::FindWindowObject(hwnd);
        if (!window || !proc) return nullptr;
        WNDPROC previous = window->proc ? window->proc : &DefWindowProcW;
        window->proc = proc;
        return previous;
    });
}

WNDPROC GetWindowProc(HWND hwnd) {
    return detail::OnUiThread([&]() -> WNDPROC {
        detail::WndObject* window = detail::FindWindowObject(hwnd);
        if (!window) return nullptr;
        return window->proc ? window->proc : &DefWindowProcW;
    });
}

WORD RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpszClassName[0]) return 0;
    std::wstring name = windowClass->lpszClassName;
    if (detail::ClassProcedure(name)) return 0;  // already registered, as Windows answers
    detail::RegisterClassProcedure(name, windowClass->lpfnWndProc ? windowClass->lpfnWndProc : &DefWindowProcW);
    return static_cast<WORD>(0xC000 | (std::hash<std::wstring>()(name) & 0x3FFF));
}

}  // namespace UiLib
