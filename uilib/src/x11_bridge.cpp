#include "x11_bridge.h"

#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

#include "message_queue.h"
#include "platform/text.h"
#include "uilib/win32.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace x11 {
namespace {

constexpr int kFrameDepth = 3;  // window manager frames nest clients a few levels down

GdkDisplay* GDisplay() { return gdk_display_get_default(); }
Display* XDisplay() { return GDK_DISPLAY_XDISPLAY(GDisplay()); }

Atom AtomOf(const char* name) { return gdk_x11_get_xatom_by_name_for_display(GDisplay(), name); }
Atom RequestAtom() { return AtomOf("_QM_UILIB_REQUEST"); }

// Runs `f` with X errors trapped (windows of other processes vanish at any time).
template <typename F>
bool Trapped(F&& f) {
    gdk_x11_display_error_trap_push(GDisplay());
    f();
    // Pop waits for the server itself when a request is still unanswered.
    return gdk_x11_display_error_trap_pop(GDisplay()) == 0;
}

bool ReadClass(Window xid, std::string* name, std::string* cls) {
    XClassHint hint{};
    Status ok = 0;
    Trapped([&] { ok = XGetClassHint(XDisplay(), xid, &hint); });
    if (!ok) return false;
    if (name) *name = hint.res_name ? hint.res_name : "";
    if (cls) *cls = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return true;
}

std::string ReadTitle(Window xid) {
    std::string title;
    bool found = false;
    Trapped([&] {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(XDisplay(), xid, AtomOf("_NET_WM_NAME"), 0, 4096, False, AtomOf("UTF8_STRING"), &type,
                               &format, &count, &after, &data) == Success &&
            data) {
            if (type != None && format == 8) {
                title.assign(reinterpret_cast<char*>(data), count);
                found = true;
            }
            XFree(data);
        }
        if (!found) {
            char* name = nullptr;
            if (XFetchName(XDisplay(), xid, &name) && name) {
                title = name;
                XFree(name);
            }
        }
    });
    return title;
}

bool Same(const std::string& a, const std::string& b) {
    return platform::EqualsIgnoreCaseAscii(platform::Utf8ToWide(a), platform::Utf8ToWide(b));
}

// A window that carries WM_CLASS: a client window, not a frame of the window manager.
struct ClientWindow {
    Window xid = 0;
    std::string name, cls;
};

void Collect(Window parent, int depth, std::vector<ClientWindow>& out) {
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool ok = Trapped([&] {
        if (!XQueryTree(XDisplay(), parent, &root, &parentOut, &children, &count)) count = 0;
    });
    if (!ok || !children) return;
    for (unsigned int i = 0; i < count; ++i) {
        ClientWindow window;
        window.xid = children[i];
        if (ReadClass(children[i], &window.name, &window.cls)) {
            out.push_back(std::move(window));
        } else if (depth > 1) {
            Collect(children[i], depth - 1, out);
        }
    }
    XFree(children);
}

GdkFilterReturn Filter(GdkXEvent* xevent, GdkEvent*, gpointer) {
    XEvent* event = static_cast<XEvent*>(xevent);
    if (event->type != ClientMessage || event->xclient.message_type != RequestAtom() || event->xclient.format != 32) {
        return GDK_FILTER_CONTINUE;
    }
    WndObject* window = FindWindowByXid(event->xclient.window);
    if (!window) return GDK_FILTER_REMOVE;
    HWND hwnd = window->hwnd;
    long kind = event->xclient.data.l[0];
    UINT message = static_cast<UINT>(event->xclient.data.l[1]);
    WPARAM wParam = static_cast<std::uint32_t>(event->xclient.data.l[2]);
    LPARAM lParam = static_cast<std::int32_t>(event->xclient.data.l[3]);
    switch (static_cast<Request>(kind)) {
    case Request::Post:
        PostMessageW(hwnd, message, wParam, lParam);
        break;
    case Request::Show:
        RunOnUiAsync([hwnd, wParam] { ShowWindow(hwnd, static_cast<int>(wParam)); });
        break;
    case Request::Activate:
        RunOnUiAsync([hwnd] { SetForegroundWindow(hwnd); });
        break;
    default:
        break;
    }
    return GDK_FILTER_REMOVE;
}

}  // namespace

bool DisplayIsX11() {
    GdkDisplay* display = GDisplay();
    return display && GDK_IS_X11_DISPLAY(display);
}

unsigned long XidOfWidget(GtkWidget* widget) {
    if (!DisplayIsX11()) return 0;
    GdkWindow* window = widget ? gtk_widget_get_window(widget) : nullptr;
    return window ? GDK_WINDOW_XID(window) : 0;
}

bool WindowManagerRunning() {
    if (!DisplayIsX11()) return false;
    const char* name = gdk_x11_screen_get_window_manager_name(gdk_screen_get_default());
    return name && std::strcmp(name, "unknown") != 0;
}

void InstallClientMessageFilter() {
    if (!DisplayIsX11()) return;
    static bool installed = false;
    if (installed) return;
    installed = true;
    gdk_window_add_filter(nullptr, Filter, nullptr);
}

std::vector<unsigned long> FindClientWindows(const std::string* cls, const std::string* title) {
    if (!DisplayIsX11()) return {};
    std::vector<ClientWindow> all;
    Collect(DefaultRootWindow(XDisplay()), kFrameDepth, all);
    std::vector<unsigned long> out;
    for (const ClientWindow& window : all) {
        if (cls && !Same(window.cls, *cls) && !Same(window.name, *cls)) continue;
        if (title && !Same(ReadTitle(window.xid), *title)) continue;
        out.push_back(window.xid);
    }
    return out;
}

bool SendRequest(unsigned long xid, Request request, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!DisplayIsX11()) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = RequestAtom();
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(request);
    event.xclient.data.l[1] = static_cast<long>(message);
    event.xclient.data.l[2] = static_cast<long>(static_cast<std::uint32_t>(wParam));
    event.xclient.data.l[3] = static_cast<long>(static_cast<std::int32_t>(lParam));
    event.xclient.data.l[4] = 0;
    Status status = 0;
    bool ok = Trapped([&] { status = XSendEvent(XDisplay(), xid, False, NoEventMask, &event); });
    return ok && status != 0;
}

void RequestActivation(unsigned long xid) {
    if (!DisplayIsX11()) return;
    if (!WindowManagerRunning()) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = AtomOf("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // from a pager: a user's explicit request
    event.xclient.data.l[1] = CurrentTime;
    Trapped([&] {
        XSendEvent(XDisplay(), DefaultRootWindow(XDisplay()), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    });
}

bool WindowExists(unsigned long xid) {
    if (!DisplayIsX11()) return false;
    XWindowAttributes attributes{};
    Status status = 0;
    bool ok = Trapped([&] { status = XGetWindowAttributes(XDisplay(), xid, &attributes); });
    return ok && status != 0;
}

std::string WindowTitle(unsigned long xid) { return DisplayIsX11() ? ReadTitle(xid) : std::string(); }

std::string WindowClass(unsigned long xid) {
    if (!DisplayIsX11()) return {};
    std::string cls;
    ReadClass(xid, nullptr, &cls);
    return cls;
}

bool WindowGeometry(unsigned long xid, RECT* rect) {
    if (!DisplayIsX11()) return false;
    XWindowAttributes attributes{};
    Status status = 0;
    int x = 0, y = 0;
    bool ok = Trapped([&] {
        status = XGetWindowAttributes(XDisplay(), xid, &attributes);
        Window child = 0;
        if (status) XTranslateCoordinates(XDisplay(), xid, DefaultRootWindow(XDisplay()), 0, 0, &x, &y, &child);
    });
    if (!ok || !status) return false;
    // The X server counts device pixels; the library's coordinates are GDK's
    // (logical) ones, smaller by the screen's scale.
    int scale = std::max(1, gdk_window_get_scale_factor(gdk_get_default_root_window()));
    rect->left = x / scale;
    rect->top = y / scale;
    rect->right = (x + attributes.width) / scale;
    rect->bottom = (y + attributes.height) / scale;
    return true;
}

}  // namespace x11
}  // namespace detail
}  // namespace UiLib
