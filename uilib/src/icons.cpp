#include "icons.h"

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "message_queue.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "runtime.h"
#include "uilib/native.h"
#include "uilib/win32.h"
#include "window_registry.h"

struct HICON__ {
    GdkPixbuf* pixbuf = nullptr;
};
struct HCURSOR__ {
    GdkCursor* cursor = nullptr;
};

namespace UiLib {
namespace detail {
namespace {

constexpr int kIconSize = 32;

std::mutex g_lock;
std::map<std::wstring, std::unique_ptr<HICON__>> g_icons;  // by file path
std::set<HICON> g_validIcons;
std::map<std::string, std::unique_ptr<HCURSOR__>> g_cursors;  // by name
std::set<HCURSOR> g_validCursors;
HCURSOR g_currentCursor = nullptr;

// A plain generated icon for a missing file: a coloured rounded square with a
// light dot, the colour derived from the resource id.
GdkPixbuf* GeneratedIcon(int resourceId) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kIconSize, kIconSize);
    cairo_t* cr = cairo_create(surface);
    unsigned hash = static_cast<unsigned>(resourceId) * 2654435761u;
    double r = 0.25 + ((hash >> 8) & 0xFF) / 512.0;
    double g = 0.35 + ((hash >> 16) & 0xFF) / 512.0;
    double b = 0.55 + ((hash >> 24) & 0xFF) / 700.0;
    double radius = 6, size = kIconSize - 2;
    cairo_new_sub_path(cr);
    cairo_arc(cr, 1 + size - radius, 1 + radius, radius, -G_PI / 2, 0);
    cairo_arc(cr, 1 + size - radius, 1 + size - radius, radius, 0, G_PI / 2);
    cairo_arc(cr, 1 + radius, 1 + size - radius, radius, G_PI / 2, G_PI);
    cairo_arc(cr, 1 + radius, 1 + radius, radius, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_fill(cr);
    cairo_arc(cr, kIconSize / 2.0, kIconSize / 2.0, kIconSize / 5.0, 0, 2 * G_PI);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, kIconSize, kIconSize);
    cairo_surface_destroy(surface);
    return pixbuf;
}

}  // namespace

GdkPixbuf* IconPixbuf(HICON icon) {
    std::lock_guard<std::mutex> lock(g_lock);
    return icon && g_validIcons.count(icon) ? icon->pixbuf : nullptr;
}

GdkPixbuf* BlankPixbuf() {
    static GdkPixbuf* blank = [] {
        GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, kIconSize, kIconSize);
        gdk_pixbuf_fill(p, 0x00000000);
        return p;
    }();
    return blank;
}

HICON SetWindowIcon(HWND hwnd, WPARAM which, HICON icon) {
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return nullptr;
    HICON& slot = which == ICON_BIG ? window->iconBig : window->iconSmall;
    HICON previous = slot;
    slot = icon;
    if (window->kind == WndKind::TopLevel && window->widget) {
        // Both sizes go to the window manager; the big one wins when both are set.
        GdkPixbuf* picture = IconPixbuf(window->iconBig ? window->iconBig : window->iconSmall);
        gtk_window_set_icon(GTK_WINDOW(window->widget), picture);
    }
    return previous;
}

GdkCursor* CursorOf(HCURSOR cursor) {
    std::lock_guard<std::mutex> lock(g_lock);
    return cursor && g_validCursors.count(cursor) ? cursor->cursor : nullptr;
}

HCURSOR CursorByName(const char* name) {
    if (!name || !EnsureGtk()) return nullptr;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_cursors.find(name);
    if (it != g_cursors.end()) return it->second.get();
    GdkCursor* cursor = gdk_cursor_new_from_name(gdk_display_get_default(), name);
    if (!cursor) return nullptr;
    auto object = std::make_unique<HCURSOR__>();
    object->cursor = cursor;
    HCURSOR handle = object.get();
    g_cursors[name] = std::move(object);
    g_validCursors.insert(handle);
    return handle;
}

}  // namespace detail

using namespace detail;

HICON LoadIconW(HINSTANCE module, int resourceId) {
    std::wstring path = platform::JoinPath(platform::JoinPath(ModuleDir(module), L"Skin/icons"),
                                           std::to_wstring(resourceId) + L".png");
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_icons.find(path);
    if (it != g_icons.end()) return it->second.get();
    GdkPixbuf* pixbuf = nullptr;
    if (platform::FileExists(path)) {
        GError* error = nullptr;
        pixbuf = gdk_pixbuf_new_from_file(platform::NativePath(path).c_str(), &error);
        if (!pixbuf) {
            Log("LoadIconW: cannot read " + platform::NativePath(path) + ": " + (error ? error->message : "?"));
        }
        if (error) g_error_free(error);
    }
    if (!pixbuf) pixbuf = GeneratedIcon(resourceId);
    auto object = std::make_unique<HICON__>();
    object->pixbuf = pixbuf;
    HICON handle = object.get();
    g_icons[path] = std::move(object);
    g_validIcons.insert(handle);
    return handle;
}

HCURSOR LoadCursorW(HINSTANCE module, int cursorId) {
    (void)module;
    switch (cursorId) {
    case IDC_IBEAM: return CursorByName("text");
    case IDC_WAIT: return CursorByName("wait");
    case IDC_CROSS: return CursorByName("crosshair");
    case IDC_SIZEALL: return CursorByName("move");
    case IDC_SIZENWSE: return CursorByName("nwse-resize");
    case IDC_SIZENESW: return CursorByName("nesw-resize");
    case IDC_SIZEWE: return CursorByName("ew-resize");
    case IDC_SIZENS: return CursorByName("ns-resize");
    case IDC_NO: return CursorByName("not-allowed");
    case IDC_HAND: return CursorByName("pointer");
    case IDC_ARROW:
    default: return CursorByName("default");
    }
}

void SetClassCursor(HWND hwnd, HCURSOR cursor) {
    OnUiThread([&] {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return;
        window->classCursor = cursor;
        if (window->widget) {
            if (GdkWindow* gdkWindow = gtk_widget_get_window(window->widget)) {
                gdk_window_set_cursor(gdkWindow, CursorOf(cursor));
            }
        }
    });
}

HCURSOR SetCursor(HCURSOR cursor) {
    return OnUiThread([&]() -> HCURSOR {
        HCURSOR previous = g_currentCursor;
        g_currentCursor = cursor;
        if (!GtkReady()) return previous;
        // The cursor shows over the window that has the pointer.
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
        GdkWindow* under = pointer ? gdk_device_get_window_at_position(pointer, nullptr, nullptr) : nullptr;
        if (under) gdk_window_set_cursor(gdk_window_get_toplevel(under), CursorOf(cursor));
        return previous;
    });
}

namespace Native {
HCURSOR CursorFromName(const char* name) { return detail::CursorByName(name); }
}  // namespace Native

}  // namespace UiLib
