#include "tray/dbus_menu.h"

#include <algorithm>

#include "runtime.h"
#include "tray/dbus_object.h"

namespace UiLib {
namespace detail {
namespace {

const char kInterface[] = "com.canonical.dbusmenu";

const char kIntrospection[] = R"xml(<node>
  <interface name="com.canonical.dbusmenu">
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ia{as})" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
  </interface>
</node>)xml";

GDBusInterfaceInfo* InterfaceInfo() {
    static GDBusInterfaceInfo* info = ParseInterface(kIntrospection, kInterface);
    return info;
}

// An underscore marks the access key in a dbusmenu label: a literal one is doubled.
std::string EscapeLabel(const std::string& label) {
    std::string out;
    for (char c : label) {
        out += c;
        if (c == '_') out += '_';
    }
    return out;
}

// The property dictionary limited to `wanted` (everything when it is empty).
GVariant* Filter(GVariant* properties, const std::vector<std::string>& wanted) {
    if (wanted.empty()) return properties;
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    GVariantIter iter;
    const char* key;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        if (std::find(wanted.begin(), wanted.end(), key) != wanted.end())
            g_variant_builder_add(&builder, "{sv}", key, value);
        g_variant_unref(value);
    }
    g_variant_unref(g_variant_ref_sink(properties));
    return g_variant_builder_end(&builder);
}

std::vector<std::string> Strings(GVariant* array) {
    std::vector<std::string> out;
    GVariantIter iter;
    const char* text;
    g_variant_iter_init(&iter, array);
    while (g_variant_iter_next(&iter, "&s", &text)) out.emplace_back(text);
    return out;
}

}  // namespace

DbusMenu::DbusMenu(GDBusConnection* connection, const char* path, ItemsSource items, ClickHandler clicked)
    : connection_(connection), path_(path), items_(std::move(items)), clicked_(std::move(clicked)) {
    static const GDBusInterfaceVTable vtable = {&DbusMenu::OnMethodCall, &DbusMenu::OnGetProperty, nullptr, {}};
    registration_ = ExportObject(connection_, path_.c_str(), InterfaceInfo(), &vtable, this, "menu");
}

DbusMenu::~DbusMenu() {
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
}

void DbusMenu::LayoutChanged() {
    ++revision_;
    if (!registration_) return;
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, "LayoutUpdated",
                                  g_variant_new("(ui)", revision_, 0), nullptr);
}

GVariant* DbusMenu::RootProperties() const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "children-display", g_variant_new_string("submenu"));
    return g_variant_builder_end(&builder);
}

GVariant* DbusMenu::ItemProperties(const DbusMenuItem& item) const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string("standard"));
    g_variant_builder_add(&builder, "{sv}", "label", g_variant_new_string(EscapeLabel(item.label).c_str()));
    g_variant_builder_add(&builder, "{sv}", "enabled", g_variant_new_boolean(item.enabled));
    g_variant_builder_add(&builder, "{sv}", "visible", g_variant_new_boolean(TRUE));
    return g_variant_builder_end(&builder);
}

GVariant* DbusMenu::Layout(int parentId, int depth) const {
    std::vector<DbusMenuItem> items = items_();
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    if (parentId == 0) {
        if (depth != 0) {
            for (const DbusMenuItem& item : items) {
                GVariantBuilder none;
                g_variant_builder_init(&none, G_VARIANT_TYPE("av"));
                g_variant_builder_add(&children, "v",
                                      g_variant_new("(i@a{sv}av)", item.id, ItemProperties(item), &none));
            }
        }
        return g_variant_new("(i@a{sv}av)", 0, RootProperties(), &children);
    }
    for (const DbusMenuItem& item : items)
        if (item.id == parentId) return g_variant_new("(i@a{sv}av)", item.id, ItemProperties(item), &children);
    return nullptr;
}

void DbusMenu::Clicked(int id, const char* eventId) {
    if (std::string(eventId) != "clicked" || !clicked_) return;
    for (const DbusMenuItem& item : items_()) {
        if (item.id == id && item.enabled) {
            ClickHandler handler = clicked_;
            handler(id);
            return;
        }
    }
}

void DbusMenu::OnMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<DbusMenu*>(data);
    std::string name = method;
    auto knownId = [self](int id) {
        if (id == 0) return true;
        for (const DbusMenuItem& item : self->items_())
            if (item.id == id) return true;
        return false;
    };
    if (name == "GetLayout") {
        gint32 parent, depth;
        GVariant* wanted;
        g_variant_get(parameters, "(ii@as)", &parent, &depth, &wanted);
        g_variant_unref(wanted);
        GVariant* layout = self->Layout(parent, depth);
        if (!layout) {
            g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error.InvalidId",
                                                       "no such menu item");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u@(ia{sv}av))", self->revision_, layout));
    } else if (name == "GetGroupProperties") {
        GVariant *ids, *wantedNames;
        g_variant_get(parameters, "(@ai@as)", &ids, &wantedNames);
        std::vector<std::string> wanted = Strings(wantedNames);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ia{sv})"));
        std::vector<DbusMenuItem> items = self->items_();
        GVariantIter iter;
        gint32 id;
        g_variant_iter_init(&iter, ids);
        while (g_variant_iter_next(&iter, "i", &id)) {
            if (id == 0) g_variant_builder_add(&builder, "(i@a{sv})", id, Filter(self->RootProperties(), wanted));
            for (const DbusMenuItem& item : items)
                if (item.id == id)
                    g_variant_builder_add(&builder, "(i@a{sv})", id, Filter(self->ItemProperties(item), wanted));
        }
        g_variant_unref(ids);
        g_variant_unref(wantedNames);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &builder));
    } else if (name == "GetProperty") {
        gint32 id;
        const char* property;
        g_variant_get(parameters, "(i&s)", &id, &property);
        GVariant* all = nullptr;
        if (id == 0) all = self->RootProperties();
        for (const DbusMenuItem& item : self->items_())
            if (item.id == id) all = self->ItemProperties(item);
        GVariant* value = all ? g_variant_lookup_value(g_variant_ref_sink(all), property, nullptr) : nullptr;
        if (all) g_variant_unref(all);
        if (!value) {
            g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error.InvalidProperty",
                                                       "no such property");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
        g_variant_unref(value);
    } else if (name == "Event") {
        gint32 id;
        const char* eventId;
        GVariant* payload;
        guint32 timestamp;
        g_variant_get(parameters, "(i&s@vu)", &id, &eventId, &payload, &timestamp);
        std::string event = eventId;
        g_variant_unref(payload);
        // Answer first: the click may end the process.
        g_dbus_method_invocation_return_value(invocation, nullptr);
        self->Clicked(id, event.c_str());
    } else if (name == "EventGroup") {
        GVariant* events = g_variant_get_child_value(parameters, 0);
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        std::vector<std::pair<int, std::string>> accepted;
        GVariantIter iter;
        gint32 id;
        const char* eventId;
        GVariant* payload;
        guint32 timestamp;
        g_variant_iter_init(&iter, events);
        while (g_variant_iter_next(&iter, "(i&s@vu)", &id, &eventId, &payload, &timestamp)) {
            g_variant_unref(payload);
            if (knownId(id)) accepted.emplace_back(id, eventId);
            else g_variant_builder_add(&errors, "i", id);
        }
        g_variant_unref(events);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
        for (const auto& e : accepted) self->Clicked(e.first, e.second.c_str());
    } else if (name == "AboutToShow") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    } else if (name == "AboutToShowGroup") {
        GVariant* ids = g_variant_get_child_value(parameters, 0);
        GVariantBuilder updates, errors;
        g_variant_builder_init(&updates, G_VARIANT_TYPE("ai"));
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        GVariantIter iter;
        gint32 id;
        g_variant_iter_init(&iter, ids);
        while (g_variant_iter_next(&iter, "i", &id))
            if (!knownId(id)) g_variant_builder_add(&errors, "i", id);
        g_variant_unref(ids);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(aiai)", &updates, &errors));
    } else {
        ReturnUnknownMethod(invocation);
    }
}

GVariant* DbusMenu::OnGetProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                                  GError** error, gpointer) {
    std::string name = property;
    if (name == "Version") return g_variant_new_uint32(3);
    if (name == "TextDirection") return g_variant_new_string("ltr");
    if (name == "Status") return g_variant_new_string("normal");
    if (name == "IconThemePath") return g_variant_new_strv(nullptr, 0);
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "unknown property %s", property);
    return nullptr;
}

}  // namespace detail
}  // namespace UiLib
