#include "icons.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <functional>
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
    GdkPixbuf* doubled = nullptr;
    GdkPixbuf* attention = nullptr;         // made on first use
    GdkPixbuf* attentionDoubled = nullptr;  // made on first use
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

// A `width` x `height` picture of what `paint` draws on a transparent surface.
GdkPixbuf* Painted(int width, int height, const std::function<void(cairo_t*)>& paint) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    paint(cr);
    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, width, height);
    cairo_surface_destroy(surface);
    return pixbuf;
}

// A plain generated icon for a missing file: a coloured rounded square with a
// light dot, the colour derived from the resource id; `size` pixels wide.
GdkPixbuf* GeneratedIcon(int resourceId, int size) {
    return Painted(size, size, [resourceId, size](cairo_t* cr) {
        cairo_scale(cr, size / static_cast<double>(kIconSize), size / static_cast<double>(kIconSize));
        unsigned hash = static_cast<unsigned>(resourceId) * 2654435761u;
        double r = 0.25 + ((hash >> 8) & 0xFF) / 512.0;
        double g = 0.35 + ((hash >> 16) & 0xFF) / 512.0;
        double b = 0.55 + ((hash >> 24) & 0xFF) / 700.0;
        double radius = 6, side = kIconSize - 2;
        cairo_new_sub_path(cr);
        cairo_arc(cr, 1 + side - radius, 1 + radius, radius, -G_PI / 2, 0);
        cairo_arc(cr, 1 + side - radius, 1 + side - radius, radius, 0, G_PI / 2);
        cairo_arc(cr, 1 + radius, 1 + side - radius, radius, G_PI / 2, G_PI);
        cairo_arc(cr, 1 + radius, 1 + radius, radius, G_PI, 3 * G_PI / 2);
        cairo_close_path(cr);
        cairo_set_source_rgb(cr, r, g, b);
        cairo_fill(cr);
        cairo_arc(cr, kIconSize / 2.0, kIconSize / 2.0, kIconSize / 5.0, 0, 2 * G_PI);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill(cr);
    });
}

// The picture with a red dot in its top right corner.
GdkPixbuf* WithAttentionMark(GdkPixbuf* picture) {
    if (!picture) return nullptr;
    int width = gdk_pixbuf_get_width(picture), height = gdk_pixbuf_get_height(picture);
    return Painted(width, height, [picture, width, height](cairo_t* cr) {
        gdk_cairo_set_source_pixbuf(cr, picture, 0, 0);
        cairo_paint(cr);
        double radius = std::min(width, height) * 0.22;
        cairo_arc(cr, width - radius - 0.5, radius + 0.5, radius, 0, 2 * G_PI);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_arc(cr, width - radius - 0.5, radius + 0.5, radius * 0.75, 0, 2 * G_PI);
        cairo_set_source_rgb(cr, 0.86, 0.16, 0.13);
        cairo_fill(cr);
    });
}

// Icons are PNG files. Naming the format spares gdk-pixbuf its sniffing,
// which would map the shared MIME database into the process and parse its
// tables, a few hundred KB for a handful of small pictures.
GdkPixbuf* DecodePng(const std::string& path) {
    gchar* bytes = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(path.c_str(), &bytes, &size, nullptr)) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr)) {
        bool written = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes), size, nullptr);
        if (gdk_pixbuf_loader_close(loader, nullptr) && written) pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
        g_object_unref(loader);
    }
    g_free(bytes);
    return pixbuf;
}

GdkPixbuf* ReadPicture(const std::wstring& path) {
    if (!platform::FileExists(path)) return nullptr;
    if (GdkPixbuf* png = DecodePng(platform::NativePath(path))) return png;
    // Not a PNG after all: let gdk-pixbuf find out what it is.
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(platform::NativePath(path).c_str(), &error);
    if (!pixbuf) Log("LoadIconW: cannot read " + platform::NativePath(path) + ": " + (error ? error->message : "?"));
    if (error) g_error_free(error);
    return pixbuf;
}

}  // namespace

GdkPixbuf* IconPixbuf(HICON icon) { return PicturesOf(icon).normal; }

IconPictures PicturesOf(HICON icon) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!icon || !g_validIcons.count(icon)) return {};
    return {icon->pixbuf, icon->doubled};
}

IconPictures AttentionPicturesOf(HICON icon) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!icon || !g_validIcons.count(icon)) return {};
    if (!icon->attention) icon->attention = WithAttentionMark(icon->pixbuf);
    if (!icon->attentionDoubled) icon->attentionDoubled = WithAttentionMark(icon->doubled);
    return {icon->attention, icon->attentionDoubled};
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
        IconPictures pictures = PicturesOf(window->iconBig ? window->iconBig : window->iconSmall);
        GList* list = nullptr;
        if (pictures.normal) list = g_list_append(list, pictures.normal);
        if (pictures.doubled) list = g_list_append(list, pictures.doubled);
        gtk_window_set_icon_list(GTK_WINDOW(window->widget), list);
        g_list_free(list);
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
    GdkPixbuf* pixbuf = ReadPicture(path);
    GdkPixbuf* doubled = nullptr;
    if (pixbuf) {
        doubled = ReadPicture(platform::JoinPath(platform::DirPart(path), std::to_wstring(resourceId) + L"@2x.png"));
    } else {
        pixbuf = GeneratedIcon(resourceId, kIconSize);
        doubled = GeneratedIcon(resourceId, 2 * kIconSize);
    }
    auto object = std::make_unique<HICON__>();
    object->pixbuf = pixbuf;
    object->doubled = doubled;
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
