#include "tray/status_notifier_item.h"

#include <atomic>

#include "platform/process.h"
#include "runtime.h"
#include "tray/dbus_object.h"
#include "tray/status_notifier_watch.h"

namespace UiLib {
namespace detail {
namespace {

const char kInterface[] = "org.kde.StatusNotifierItem";

const char kIntrospection[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
</node>)xml";

GDBusInterfaceInfo* InterfaceInfo() {
    static GDBusInterfaceInfo* info = ParseInterface(kIntrospection, kInterface);
    return info;
}

// Pictures as the protocol wants them: width, height and ARGB32 in network byte order.
GVariant* Pixmaps(const std::vector<GdkPixbuf*>& pictures) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    for (GdkPixbuf* picture : pictures) {
        if (!picture || gdk_pixbuf_get_bits_per_sample(picture) != 8) continue;
        int width = gdk_pixbuf_get_width(picture), height = gdk_pixbuf_get_height(picture);
        int channels = gdk_pixbuf_get_n_channels(picture), stride = gdk_pixbuf_get_rowstride(picture);
        bool alpha = gdk_pixbuf_get_has_alpha(picture);
        const guchar* pixels = gdk_pixbuf_read_pixels(picture);
        std::vector<guchar> argb(static_cast<size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const guchar* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
                guchar* q = &argb[(static_cast<size_t>(y) * width + x) * 4];
                q[0] = alpha ? p[3] : 0xFF;
                q[1] = p[0];
                q[2] = p[1];
                q[3] = p[2];
            }
        }
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1);
        g_variant_builder_add(&builder, "(ii@ay)", width, height, bytes);
    }
    return g_variant_ref_sink(g_variant_builder_end(&builder));
}

const char kItemPath[] = "/StatusNotifierItem";
const char kMenuPath[] = "/StatusNotifierItem/Menu";

std::string NextBusName() {
    static std::atomic<int> counter{0};
    return "org.kde.StatusNotifierItem-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(++counter);
}

// A bus call the item started: its answer is dropped once the item has gone.
// The connection of an item that went before it was open is closed at once.
struct PendingCall {
    std::weak_ptr<bool> alive;
    StatusNotifierItem* item;
};

void CloseConnection(GDBusConnection* connection) {
    g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
    g_object_unref(connection);
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(const std::string& address, std::string id, Handlers handlers)
    : id_(std::move(id)), busName_(NextBusName()), handlers_(std::move(handlers)) {
    pixmaps_ = Pixmaps({});
    attentionPixmaps_ = Pixmaps({});
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &StatusNotifierItem::OnConnected, new PendingCall{alive_, this});
}

StatusNotifierItem::~StatusNotifierItem() {
    *alive_ = false;
    menu_.reset();
    if (connection_) {
        if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
        if (nameOwner_) g_bus_unown_name(nameOwner_);
        // The watcher sees the connection's names go and drops the item.
        CloseConnection(connection_);
    }
    g_variant_unref(pixmaps_);
    g_variant_unref(attentionPixmaps_);
}

void StatusNotifierItem::OnConnected(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
    if (!call->alive.lock()) {
        if (connection) CloseConnection(connection);
        if (error) g_error_free(error);
        return;
    }
    StatusNotifierItem* self = call->item;
    if (!connection) {
        Log(std::string("tray: no connection for the status notifier item: ") + (error ? error->message : "?"));
        if (error) g_error_free(error);
        self->FinishRegistration(false);
        return;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    self->connection_ = connection;
    self->Export();
}

void StatusNotifierItem::Export() {
    static const GDBusInterfaceVTable vtable = {&StatusNotifierItem::OnMethodCall, &StatusNotifierItem::OnGetProperty,
                                                nullptr, {}};
    registration_ = ExportObject(connection_, kItemPath, InterfaceInfo(), &vtable, this, "status notifier item");
    if (!registration_) {
        FinishRegistration(false);
        return;
    }
    menu_ = std::make_unique<DbusMenu>(connection_, kMenuPath, handlers_.menuItems, handlers_.menuClicked);
    // The watcher learns the item by this name once it is ours.
    nameOwner_ = g_bus_own_name_on_connection(connection_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                              &StatusNotifierItem::OnNameAcquired, &StatusNotifierItem::OnNameLost,
                                              this, nullptr);
}

void StatusNotifierItem::OnNameAcquired(GDBusConnection*, const char*, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    self->nameOwned_ = true;
    if (self->registered_) self->SendRegistration();
}

void StatusNotifierItem::OnNameLost(GDBusConnection*, const char*, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    self->nameOwned_ = false;
    Log("tray: the status notifier item's bus name was refused or lost");
    self->FinishRegistration(false);
}

void StatusNotifierItem::Register(std::function<void(bool)> done) {
    registered_ = std::move(done);
    if (nameOwned_) SendRegistration();
}

void StatusNotifierItem::SendRegistration() {
    auto* call = new PendingCall{alive_, this};
    g_dbus_connection_call(
        connection_, kWatcherBusName, kWatcherPath, kWatcherInterface, "RegisterStatusNotifierItem",
        g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (reply) g_variant_unref(reply);
            if (error) {
                Log(std::string("tray: the status notifier watcher refused the item: ") + error->message);
                g_error_free(error);
            }
            if (call->alive.lock()) call->item->FinishRegistration(reply != nullptr);
        },
        call);
}

void StatusNotifierItem::FinishRegistration(bool accepted) {
    std::function<void(bool)> done = std::move(registered_);
    registered_ = nullptr;
    if (done) done(accepted);
}

void StatusNotifierItem::Emit(const char* signal, GVariant* parameters) {
    if (!connection_ || !registration_) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, kItemPath, kInterface, signal, parameters, nullptr);
}

void StatusNotifierItem::SetIcon(const std::vector<GdkPixbuf*>& pictures) {
    g_variant_unref(pixmaps_);
    pixmaps_ = Pixmaps(pictures);
    Emit("NewIcon");
}

void StatusNotifierItem::SetAttentionIcon(const std::vector<GdkPixbuf*>& pictures) {
    g_variant_unref(attentionPixmaps_);
    attentionPixmaps_ = Pixmaps(pictures);
    Emit("NewAttentionIcon");
}

void StatusNotifierItem::SetTooltip(const std::string& text) {
    if (text == tooltip_) return;
    tooltip_ = text;
    Emit("NewTitle");
    Emit("NewToolTip");
}

void StatusNotifierItem::SetAttention(bool attention) {
    if (attention == attention_) return;
    attention_ = attention;
    Emit("NewStatus", g_variant_new("(s)", attention_ ? "NeedsAttention" : "Active"));
}

void StatusNotifierItem::MenuChanged() {
    if (menu_) menu_->LayoutChanged();
}

void StatusNotifierItem::OnMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                                      GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    std::string name = method;
    // The host's coordinates are not used: the window reads the pointer itself, as after a click.
    std::function<void()> handler;
    if (name == "Activate") handler = self->handlers_.activate;
    else if (name == "SecondaryActivate") handler = self->handlers_.secondaryActivate;
    else if (name == "ContextMenu") handler = self->handlers_.contextMenu;
    else if (name != "Scroll") {
        ReturnUnknownMethod(invocation);
        return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (handler) handler();
}

GVariant* StatusNotifierItem::OnGetProperty(GDBusConnection*, const char*, const char*, const char*,
                                            const char* property, GError** error, gpointer data) {
    auto* self = static_cast<StatusNotifierItem*>(data);
    std::string name = property;
    if (name == "Category") return g_variant_new_string("ApplicationStatus");
    if (name == "Id") return g_variant_new_string(self->id_.c_str());
    if (name == "Title") return g_variant_new_string(self->tooltip_.c_str());
    if (name == "Status") return g_variant_new_string(self->attention_ ? "NeedsAttention" : "Active");
    if (name == "WindowId") return g_variant_new_int32(static_cast<gint32>(self->windowId_));
    if (name == "IconName" || name == "OverlayIconName" || name == "AttentionIconName" ||
        name == "AttentionMovieName" || name == "IconThemePath")
        return g_variant_new_string("");
    if (name == "IconPixmap") return g_variant_ref(self->pixmaps_);
    if (name == "AttentionIconPixmap") return g_variant_ref(self->attentionPixmaps_);
    if (name == "OverlayIconPixmap") return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    if (name == "ToolTip") {
        return g_variant_new("(s@a(iiay)ss)", "", g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                             self->tooltip_.c_str(), "");
    }
    if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (name == "Menu") return g_variant_new_object_path(self->menu_ && self->menu_->exported() ? kMenuPath : "/");
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "unknown property %s", property);
    return nullptr;
}

}  // namespace detail
}  // namespace UiLib
