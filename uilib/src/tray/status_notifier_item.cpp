#include "tray/status_notifier_item.h"

#include <atomic>

#include "runtime.h"
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
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return node ? g_dbus_node_info_lookup_interface(node, kInterface) : nullptr;
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

// Every item of the process has a path of its own on the one connection; the
// watcher learns the path and takes the connection's name as the item's.
std::string NextItemPath() {
    static std::atomic<int> counter{0};
    return "/StatusNotifierItem/" + std::to_string(++counter);
}

struct RegisterCall {
    std::weak_ptr<bool> alive;
    std::function<void(bool)> done;
};

void OnRegistered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<RegisterCall> call(static_cast<RegisterCall*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) g_variant_unref(reply);
    if (error) {
        Log(std::string("tray: the status notifier watcher refused the item: ") + error->message);
        g_error_free(error);
    }
    if (call->alive.lock()) call->done(reply != nullptr);
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(GDBusConnection* connection, std::string id, Handlers handlers)
    : connection_(G_DBUS_CONNECTION(g_object_ref(connection))),
      id_(std::move(id)),
      path_(NextItemPath()),
      menuPath_(path_ + "/Menu"),
      handlers_(std::move(handlers)) {
    pixmaps_ = Pixmaps({});
    attentionPixmaps_ = Pixmaps({});
    static const GDBusInterfaceVTable vtable = {&StatusNotifierItem::OnMethodCall, &StatusNotifierItem::OnGetProperty,
                                                nullptr, {}};
    GError* error = nullptr;
    if (GDBusInterfaceInfo* info = InterfaceInfo())
        registration_ =
            g_dbus_connection_register_object(connection_, path_.c_str(), info, &vtable, this, nullptr, &error);
    if (error) {
        Log(std::string("tray: status notifier item not exported: ") + error->message);
        g_error_free(error);
    }
    menu_ = std::make_unique<DbusMenu>(connection_, menuPath_.c_str(), handlers_.menuItems, handlers_.menuClicked);
}

StatusNotifierItem::~StatusNotifierItem() {
    *alive_ = false;
    menu_.reset();
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
    g_variant_unref(pixmaps_);
    g_variant_unref(attentionPixmaps_);
    g_object_unref(connection_);
}

void StatusNotifierItem::Register(std::function<void(bool)> done) {
    if (!registration_) {
        done(false);
        return;
    }
    auto* call = new RegisterCall{alive_, std::move(done)};
    g_dbus_connection_call(connection_, kWatcherBusName, kWatcherPath, kWatcherInterface, "RegisterStatusNotifierItem",
                           g_variant_new("(s)", path_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           kBusCallTimeoutMs, nullptr, &OnRegistered, call);
}

void StatusNotifierItem::Emit(const char* signal, GVariant* parameters) {
    if (!registration_) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, signal, parameters, nullptr);
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
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                   "unknown method");
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
    if (name == "Menu") return g_variant_new_object_path(self->menu_ && self->menu_->exported() ? self->menuPath_.c_str() : "/");
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "unknown property %s", property);
    return nullptr;
}

}  // namespace detail
}  // namespace UiLib
