// A flat menu exported over com.canonical.dbusmenu, the way StatusNotifierItem
// hosts read and show an item's menu. UI thread only.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace UiLib {
namespace detail {

struct DbusMenuItem {
    int id = 0;  // above 0; 0 is the root
    std::string label;
    bool enabled = true;
};

class DbusMenu {
public:
    using ItemsSource = std::function<std::vector<DbusMenuItem>()>;
    using ClickHandler = std::function<void(int id)>;

    // Exports the menu at `path`; the items are read afresh whenever a host asks.
    DbusMenu(GDBusConnection* connection, const char* path, ItemsSource items, ClickHandler clicked);
    ~DbusMenu();
    DbusMenu(const DbusMenu&) = delete;
    DbusMenu& operator=(const DbusMenu&) = delete;

    bool exported() const { return registration_ != 0; }
    // Tells hosts that the items changed.
    void LayoutChanged();

private:
    static void OnMethodCall(GDBusConnection*, const char* sender, const char* path, const char* interface,
                             const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer self);
    static GVariant* OnGetProperty(GDBusConnection*, const char* sender, const char* path, const char* interface,
                                   const char* property, GError** error, gpointer self);
    GVariant* Layout(int parentId, int depth) const;
    GVariant* ItemProperties(const DbusMenuItem& item) const;
    GVariant* RootProperties() const;
    void Clicked(int id, const char* eventId);

    GDBusConnection* connection_;
    std::string path_;
    ItemsSource items_;
    ClickHandler clicked_;
    unsigned registration_ = 0;
    unsigned revision_ = 1;
};

}  // namespace detail
}  // namespace UiLib
