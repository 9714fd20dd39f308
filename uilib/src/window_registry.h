// Window objects behind the opaque HWNDs. Local handles are numbers from a
// counter (never reused, never pointers); top-level windows of other processes
// get tagged handles that carry their X window id.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace UiLib {
namespace detail {

enum class WndKind { TopLevel, Child };

struct WndObject {
    HWND hwnd = nullptr;
    WndKind kind = WndKind::TopLevel;
    std::wstring className;
    std::wstring title;
    DWORD style = 0;
    DWORD exStyle = 0;
    WNDPROC proc = nullptr;
    HWND parent = nullptr;      // owner of a top-level window, parent of a child
    void* userData = nullptr;   // the CWindowWnd bound to the window
    GtkWidget* widget = nullptr;  // the GtkWindow of a top-level window, or the child widget
    GtkWidget* fixed = nullptr;   // client container of a top-level window
    unsigned long xid = 0;
    bool visible = false;
    bool iconic = false;
    bool iconicByUnmap = false;   // minimised without a window manager: unmapped
    bool maximized = false;
    bool destroying = false;
    bool ownsWidget = true;       // false for registered child widgets (the caller owns them)
    bool skinned = false;         // created by CWindowWnd: draws its own caption, no frame
    RECT rect;                    // top-level: frame in screen coordinates; child: in parent client coordinates
    int clientWidth = 0;
    int clientHeight = 0;
    int frameLeft = 0;            // client origin inside the frame (decorations)
    int frameTop = 0;
    std::int64_t lastGeometryRequest = -1000000;
    unsigned reconcileSource = 0;
    std::map<UINT_PTR, unsigned> timers;  // id -> GLib source id
    HCURSOR classCursor = nullptr;
    HICON iconSmall = nullptr;
    HICON iconBig = nullptr;
    bool trackingLeave = false;
    bool popupGrabbed = false;    // a popup menu holding pointer and keyboard
    bool maximizedByHand = false; // maximised without a window manager: restoreRect is the place before
    RECT restoreRect;
};

HWND RegisterWindow(std::unique_ptr<WndObject> window);
// The live local window of a handle (UI thread), or null.
WndObject* FindWindowObject(HWND hwnd);
// The top-level window that holds `hwnd` (itself when it is one), or null.
WndObject* ToplevelObjectOf(HWND hwnd);
// Any thread: whether the handle names a live local window.
bool IsLocalWindow(HWND hwnd);
// Removes the window; the object itself is freed later on the UI thread.
void UnregisterWindow(HWND hwnd);
// The window no longer reaches the object bound to it (its user data).
void UnbindObject(HWND hwnd);
// For an object that goes before its window: `handle` (the object's) is
// cleared, the window unbound from the object and destroyed.
void DestroyForDepartingObject(HWND& handle);

bool IsForeignHandle(HWND hwnd);
unsigned long ForeignXid(HWND hwnd);
HWND MakeForeignHandle(unsigned long xid);

WndObject* FindWindowByXid(unsigned long xid);
WndObject* FindWindowByWidget(GtkWidget* widget);
// The nearest registered window of a widget: itself, an ancestor registered as
// a child window, or the top-level window it lives in.
HWND FindHandleOfWidget(GtkWidget* widget);
std::vector<HWND> AllWindows();
std::vector<HWND> ChildrenOf(HWND parent);

}  // namespace detail
}  // namespace UiLib
