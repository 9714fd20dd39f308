// One tray icon as a StatusNotifierItem (org.kde.StatusNotifierItem) on the
// session bus, registered with the StatusNotifierWatcher, with its menu over
// com.canonical.dbusmenu. UI thread only.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tray/dbus_menu.h"

namespace UiLib {
namespace detail {

class StatusNotifierItem {
public:
    struct Handlers {
        std::function<void()> activate;           // primary click
        std::function<void()> secondaryActivate;  // middle click
        std::function<void()> contextMenu;        // the host shows no menu of its own
        DbusMenu::ItemsSource menuItems;
        DbusMenu::ClickHandler menuClicked;
    };

    // Opens a connection of its own to the bus at `address`, takes the name
    // "org.kde.StatusNotifierItem-<pid>-<n>" and exports the item and its menu
    // there. Closing that connection (when the item goes) takes the item off
    // every host.
    StatusNotifierItem(const std::string& address, std::string id, Handlers handlers);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    const std::string& busName() const { return busName_; }
    // Asks the watcher to show the item (once the connection and the name are
    // there); `done(true)` once it accepted. The callback never runs after the
    // item is gone.
    void Register(std::function<void(bool)> done);

    // Pictures of the icon (any sizes; none leaves the item without a picture).
    void SetIcon(const std::vector<GdkPixbuf*>& pictures);
    void SetAttentionIcon(const std::vector<GdkPixbuf*>& pictures);
    void SetTooltip(const std::string& text);
    // "NeedsAttention" while set, "Active" otherwise.
    void SetAttention(bool attention);
    void SetWindowId(unsigned xid) { windowId_ = xid; }
    void MenuChanged();

    bool attention() const { return attention_; }

private:
    static void OnConnected(GObject*, GAsyncResult* result, gpointer data);
    static void OnNameAcquired(GDBusConnection*, const char*, gpointer data);
    static void OnNameLost(GDBusConnection*, const char*, gpointer data);
    void Export();
    void SendRegistration();
    void FinishRegistration(bool accepted);
    static void OnMethodCall(GDBusConnection*, const char* sender, const char* path, const char* interface,
                             const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer self);
    static GVariant* OnGetProperty(GDBusConnection*, const char* sender, const char* path, const char* interface,
                                   const char* property, GError** error, gpointer self);
    void Emit(const char* signal, GVariant* parameters = nullptr);

    GDBusConnection* connection_ = nullptr;  // null until connected
    std::string id_;
    std::string busName_;
    Handlers handlers_;
    unsigned nameOwner_ = 0;
    bool nameOwned_ = false;
    std::function<void(bool)> registered_;  // a registration waiting for the connection and the name
    unsigned registration_ = 0;
    std::unique_ptr<DbusMenu> menu_;
    GVariant* pixmaps_ = nullptr;           // a(iiay), owned
    GVariant* attentionPixmaps_ = nullptr;  // a(iiay), owned
    std::string tooltip_;
    bool attention_ = false;
    unsigned windowId_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace detail
}  // namespace UiLib
