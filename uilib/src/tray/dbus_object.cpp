#include "tray/dbus_object.h"

#include <string>

#include "runtime.h"

namespace UiLib {
namespace detail {

GDBusInterfaceInfo* ParseInterface(const char* xml, const char* name) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    if (!node) return nullptr;
    GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(node, name);
    if (info) g_dbus_interface_info_ref(info);
    g_dbus_node_info_unref(node);
    return info;
}

guint ExportObject(GDBusConnection* connection, const char* path, GDBusInterfaceInfo* info,
                   const GDBusInterfaceVTable* vtable, gpointer data, const char* what) {
    if (!info) {
        Log(std::string("tray: ") + what + " not exported: no interface description");
        return 0;
    }
    GError* error = nullptr;
    guint registration = g_dbus_connection_register_object(connection, path, info, vtable, data, nullptr, &error);
    if (error) {
        Log(std::string("tray: ") + what + " not exported: " + error->message);
        g_error_free(error);
        return 0;
    }
    return registration;
}

void ReturnUnknownMethod(GDBusMethodInvocation* invocation) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                               "unknown method");
}

}  // namespace detail
}  // namespace UiLib
