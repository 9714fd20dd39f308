#include "tray/tray.h"

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <utility>

#include "icons.h"
#include "message_queue.h"
#include "runtime.h"
#include "tray/menu_window.h"
#include "tray/status_notifier_item.h"
#include "tray/status_notifier_watch.h"
#include "tray/xembed_icon.h"
#include "uilib/win32.h"
#include "window_registry.h"
#include "x11_bridge.h"

namespace UiLib {
namespace detail {
namespace {

using Key = std::pair<HWND, UINT>;

struct TrayIcon {
    Key key;
    UINT callbackMessage = 0;
    HICON icon = nullptr;       // the picture asked for last (null while a flash hides it)
    HICON lastShown = nullptr;  // the last real picture: what a status notifier item keeps showing
    std::string tooltip;
    bool attention = false;
    HWND menu = nullptr;
    std::unique_ptr<XEmbedIcon> xembed;
    std::unique_ptr<StatusNotifierItem> item;
    bool itemShown = false;    // the watcher accepted the item
    bool itemRefused = false;  // not offered again until the watcher's state changes
};

std::map<Key, std::unique_ptr<TrayIcon>> g_icons;
int g_watchListener = 0;

TrayIcon* Find(const Key& key) {
    auto it = g_icons.find(key);
    return it == g_icons.end() ? nullptr : it->second.get();
}

void PostCallback(const Key& key, std::initializer_list<UINT> mouseMessages) {
    TrayIcon* icon = Find(key);
    if (!icon || !icon->callbackMessage) return;
    for (UINT m : mouseMessages) PostMessageW(key.first, icon->callbackMessage, key.second, static_cast<LPARAM>(m));
}

std::string TooltipOf(const wchar_t* tip) {
    return ToUtf8(std::wstring(tip, wcsnlen(tip, 128)));
}

std::string ItemId(HWND hwnd) {
    const char* program = g_get_prgname();
    return program && *program ? program : ToUtf8(GetWindowClassName(hwnd));
}

std::vector<GdkPixbuf*> List(const IconPictures& pictures) {
    std::vector<GdkPixbuf*> list;
    if (pictures.normal) list.push_back(pictures.normal);
    if (pictures.doubled) list.push_back(pictures.doubled);
    return list;
}

void ShowPicture(TrayIcon& t) {
    if (t.xembed) {
        IconPictures pictures = PicturesOf(t.icon);
        t.xembed->SetPicture(pictures.normal, pictures.doubled);
    }
    if (t.item) {
        // An item keeps its picture while a flash hides the icon: hosts show the
        // attention state instead.
        t.item->SetIcon(List(PicturesOf(t.lastShown)));
        t.item->SetAttentionIcon(List(AttentionPicturesOf(t.lastShown)));
    }
}

void Reconcile(TrayIcon& t);

std::unique_ptr<StatusNotifierItem> MakeItem(TrayIcon& t) {
    Key key = t.key;
    StatusNotifierItem::Handlers handlers;
    // The host's clicks reach the window as the XEmbed icon's would.
    handlers.activate = [key] { PostCallback(key, {WM_LBUTTONDOWN, WM_LBUTTONUP}); };
    handlers.secondaryActivate = [key] { PostCallback(key, {WM_MBUTTONDOWN, WM_MBUTTONUP}); };
    handlers.contextMenu = [key] { PostCallback(key, {WM_RBUTTONDOWN, WM_RBUTTONUP}); };
    handlers.menuItems = [key] {
        TrayIcon* icon = Find(key);
        return icon && icon->menu ? MenuWindowItems(icon->menu) : std::vector<DbusMenuItem>();
    };
    handlers.menuClicked = [key](int id) {
        if (TrayIcon* icon = Find(key)) ChooseMenuWindowItem(icon->menu, id);
    };
    auto item = std::make_unique<StatusNotifierItem>(StatusNotifierWatch::Get().address(), ItemId(key.first),
                                                     std::move(handlers));
    if (WndObject* window = FindWindowObject(key.first)) item->SetWindowId(static_cast<unsigned>(window->xid));
    item->SetTooltip(t.tooltip);
    item->SetAttention(t.attention);
    return item;
}

void OfferItem(TrayIcon& t) {
    t.item = MakeItem(t);
    ShowPicture(t);
    Key key = t.key;
    t.item->Register([key](bool accepted) {
        TrayIcon* icon = Find(key);
        if (!icon) return;
        icon->itemShown = accepted;
        if (!accepted) {
            icon->item.reset();
            icon->itemRefused = true;
        }
        Reconcile(*icon);
    });
}

void ShowXEmbed(TrayIcon& t) {
    // XEmbed is an X11 protocol: on Wayland only a status notifier host shows the icon.
    if (t.xembed || !x11::DisplayIsX11()) return;
    Key key = t.key;
    t.xembed = std::make_unique<XEmbedIcon>(ToUtf8(GetWindowClassName(key.first)),
                                            [key](unsigned message) { PostCallback(key, {message}); });
    t.xembed->SetTooltip(t.tooltip);
    ShowPicture(t);
}

// Puts the icon where the desktop shows it now.
void Reconcile(TrayIcon& t) {
    switch (StatusNotifierWatch::Get().state()) {
    case StatusNotifierWatch::State::Available:
        if (!t.item && !t.itemRefused) OfferItem(t);
        // The XEmbed icon stays until the watcher has accepted the item.
        if (t.itemShown) t.xembed.reset();
        else if (!t.item) ShowXEmbed(t);
        break;
    case StatusNotifierWatch::State::Unavailable:
        t.item.reset();
        t.itemShown = false;
        ShowXEmbed(t);
        break;
    case StatusNotifierWatch::State::Unknown:
        break;  // shown once the bus has answered
    }
}

void OnWatchChanged() {
    for (auto& entry : g_icons) {
        TrayIcon& t = *entry.second;
        // A new watcher (or the same one back) gets the item again.
        t.item.reset();
        t.itemShown = false;
        t.itemRefused = false;
        Reconcile(t);
    }
}

void ApplyIcon(TrayIcon& t, HICON icon) {
    t.icon = icon;
    if (icon) t.lastShown = icon;
    ShowPicture(t);
}

void ApplyTip(TrayIcon& t, const wchar_t* tip) {
    t.tooltip = TooltipOf(tip);
    if (t.xembed) t.xembed->SetTooltip(t.tooltip);
    if (t.item) t.item->SetTooltip(t.tooltip);
}

BOOL Add(const NOTIFYICONDATAW& data) {
    Key key(data.hWnd, data.uID);
    if (g_icons.count(key)) return FALSE;  // as Windows: add twice fails
    StatusNotifierWatch& watch = StatusNotifierWatch::Get();
    if (!g_watchListener) g_watchListener = watch.AddListener(&OnWatchChanged);
    watch.Start();
    auto entry = std::make_unique<TrayIcon>();
    TrayIcon& t = *entry;
    t.key = key;
    t.callbackMessage = (data.uFlags & NIF_MESSAGE) ? data.uCallbackMessage : 0;
    if (data.uFlags & NIF_TIP) t.tooltip = TooltipOf(data.szTip);
    g_icons[key] = std::move(entry);
    ApplyIcon(t, (data.uFlags & NIF_ICON) ? data.hIcon : nullptr);
    Reconcile(t);
    return TRUE;
}

BOOL Modify(const NOTIFYICONDATAW& data) {
    TrayIcon* t = Find(Key(data.hWnd, data.uID));
    if (!t) return FALSE;
    if (data.uFlags & NIF_MESSAGE) t->callbackMessage = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) ApplyIcon(*t, data.hIcon);
    if (data.uFlags & NIF_TIP) ApplyTip(*t, data.szTip);
    return TRUE;
}

BOOL Delete(const NOTIFYICONDATAW& data) { return g_icons.erase(Key(data.hWnd, data.uID)) ? TRUE : FALSE; }

}  // namespace

void RemoveTrayIconsOf(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    for (auto it = g_icons.begin(); it != g_icons.end();) {
        if (it->first.first == hwnd) it = g_icons.erase(it);
        else ++it;
    }
}

void SetTrayAttentionOf(HWND hwnd, bool attention) {
    UILIB_ASSERT_UI_THREAD();
    for (auto& entry : g_icons) {
        if (entry.first.first != hwnd) continue;
        entry.second->attention = attention;
        if (entry.second->item) entry.second->item->SetAttention(attention);
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

BOOL SetNotifyIconMenu(HWND hwnd, UINT id, HWND menu) {
    return OnUiThread([&]() -> BOOL {
        TrayIcon* t = Find(Key(hwnd, id));
        if (!t) return FALSE;
        t->menu = menu;
        if (t->item) t->item->MenuChanged();
        return TRUE;
    });
}

NotifyIconHost GetNotifyIconHost(HWND hwnd, UINT id) {
    return OnUiThread([&]() -> NotifyIconHost {
        TrayIcon* t = Find(Key(hwnd, id));
        if (!t) return NotifyIconHost::Nobody;
        if (t->item && t->itemShown) return NotifyIconHost::StatusNotifier;
        if (t->xembed && t->xembed->embedded()) return NotifyIconHost::XEmbed;
        return NotifyIconHost::Nobody;
    });
}

BOOL IsNotifyIconEmbedded(HWND hwnd, UINT id) {
    return GetNotifyIconHost(hwnd, id) == NotifyIconHost::XEmbed ? TRUE : FALSE;
}

BOOL Shell_NotifyIconGetRect(HWND hwnd, UINT id, RECT* rect) {
    if (!rect) return FALSE;
    return OnUiThread([&]() -> BOOL {
        TrayIcon* t = Find(Key(hwnd, id));
        GdkRectangle area;
        if (!t || !t->xembed || !t->xembed->Geometry(area)) return FALSE;
        rect->left = area.x;
        rect->top = area.y;
        rect->right = area.x + area.width;
        rect->bottom = area.y + area.height;
        return TRUE;
    });
}

}  // namespace UiLib
