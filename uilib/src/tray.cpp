#include "tray.h"

#include <gtk/gtk.h>

#include <map>
#include <utility>

#include "icons.h"
#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_registry.h"

// GtkStatusIcon is deprecated in favour of desktop-specific indicators, but it
// is the XEmbed tray icon that every tray host (trayer included) embeds.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace UiLib {
namespace detail {
namespace {

struct TrayIcon {
    GtkStatusIcon* icon = nullptr;
    UINT callbackMessage = 0;
};

using Key = std::pair<HWND, UINT>;
std::map<Key, TrayIcon> g_icons;

void PostCallback(const Key& key, UINT mouseMessage) {
    auto it = g_icons.find(key);
    if (it == g_icons.end() || !it->second.callbackMessage) return;
    PostMessageW(key.first, it->second.callbackMessage, key.second, static_cast<LPARAM>(mouseMessage));
}

Key* KeyOf(gpointer data) { return static_cast<Key*>(data); }

gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    if (event->type != GDK_BUTTON_PRESS) return FALSE;
    if (event->button == 1) PostCallback(*KeyOf(data), WM_LBUTTONDOWN);
    if (event->button == 3) PostCallback(*KeyOf(data), WM_RBUTTONDOWN);
    return FALSE;
}

gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    if (event->button == 1) PostCallback(*KeyOf(data), WM_LBUTTONUP);
    if (event->button == 3) PostCallback(*KeyOf(data), WM_RBUTTONUP);
    return FALSE;
}

void FreeKey(gpointer data, GClosure*) { delete KeyOf(data); }

void ApplyIcon(GtkStatusIcon* icon, HICON handle) {
    GdkPixbuf* pixbuf = IconPixbuf(handle);
    gtk_status_icon_set_from_pixbuf(icon, pixbuf ? pixbuf : BlankPixbuf());
}

void ApplyTip(GtkStatusIcon* icon, const wchar_t* tip) {
    std::wstring text(tip, wcsnlen(tip, 128));
    gtk_status_icon_set_tooltip_text(icon, text.empty() ? nullptr : ToUtf8(text).c_str());
}

BOOL Add(const NOTIFYICONDATAW& data) {
    Key key(data.hWnd, data.uID);
    if (g_icons.count(key)) return FALSE;  // as Windows: add twice fails
    TrayIcon entry;
    entry.icon = gtk_status_icon_new();
    entry.callbackMessage = (data.uFlags & NIF_MESSAGE) ? data.uCallbackMessage : 0;
    ApplyIcon(entry.icon, (data.uFlags & NIF_ICON) ? data.hIcon : nullptr);
    if (data.uFlags & NIF_TIP) ApplyTip(entry.icon, data.szTip);
    gtk_status_icon_set_title(entry.icon, ToUtf8(GetWindowClassName(data.hWnd)).c_str());
    g_signal_connect_data(entry.icon, "button-press-event", G_CALLBACK(OnButtonPress), new Key(key), FreeKey,
                          static_cast<GConnectFlags>(0));
    g_signal_connect_data(entry.icon, "button-release-event", G_CALLBACK(OnButtonRelease), new Key(key), FreeKey,
                          static_cast<GConnectFlags>(0));
    gtk_status_icon_set_visible(entry.icon, TRUE);
    g_icons[key] = entry;
    return TRUE;
}

BOOL Modify(const NOTIFYICONDATAW& data) {
    auto it = g_icons.find(Key(data.hWnd, data.uID));
    if (it == g_icons.end()) return FALSE;
    if (data.uFlags & NIF_MESSAGE) it->second.callbackMessage = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) ApplyIcon(it->second.icon, data.hIcon);
    if (data.uFlags & NIF_TIP) ApplyTip(it->second.icon, data.szTip);
    return TRUE;
}

BOOL Delete(const NOTIFYICONDATAW& data) {
    auto it = g_icons.find(Key(data.hWnd, data.uID));
    if (it == g_icons.end()) return FALSE;
    GtkStatusIcon* icon = it->second.icon;
    g_icons.erase(it);
    gtk_status_icon_set_visible(icon, FALSE);
    g_object_unref(icon);
    return TRUE;
}

}  // namespace

void RemoveTrayIconsOf(HWND hwnd) {
    for (auto it = g_icons.begin(); it != g_icons.end();) {
        if (it->first.first == hwnd) {
            GtkStatusIcon* icon = it->second.icon;
            it = g_icons.erase(it);
            gtk_status_icon_set_visible(icon, FALSE);
            g_object_unref(icon);
        } else {
            ++it;
        }
    }
}

}  // namespace detail

using namespace detail;

BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data) {
    if (!data || !IsLocalWindow(data->hWnd)) return FALSE;
    if (!EnsureGtk()) return FALSE;
    return OnUiThread([&]() -> BOOL {
        switch (message) {
        case NIM_ADD: return Add(*data);
        case NIM_MODIFY: return Modify(*data);
        case NIM_DELETE: return Delete(*data);
        default: return FALSE;
        }
    });
}

BOOL IsNotifyIconEmbedded(HWND hwnd, UINT id) {
    return OnUiThread([&]() -> BOOL {
        auto it = g_icons.find(Key(hwnd, id));
        return it != g_icons.end() && gtk_status_icon_is_embedded(it->second.icon) ? TRUE : FALSE;
    });
}

BOOL Shell_NotifyIconGetRect(HWND hwnd, UINT id, RECT* rect) {
    if (!rect) return FALSE;
    return OnUiThread([&]() -> BOOL {
        auto it = g_icons.find(Key(hwnd, id));
        if (it == g_icons.end() || !gtk_status_icon_is_embedded(it->second.icon)) return FALSE;
        GdkRectangle area;
        if (!gtk_status_icon_get_geometry(it->second.icon, nullptr, &area, nullptr)) return FALSE;
        rect->left = area.x;
        rect->top = area.y;
        rect->right = area.x + area.width;
        rect->bottom = area.y + area.height;
        return TRUE;
    });
}

}  // namespace UiLib

G_GNUC_END_IGNORE_DEPRECATIONS
