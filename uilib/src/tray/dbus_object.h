// Objects the tray exports on a bus connection: the item and its menu.
#pragma once

#include <gio/gio.h>

namespace UiLib {
namespace detail {

// The interface `name` of the introspection text `xml`, or null when the text
// does not describe it. Callers parse their constant text once and keep it.
GDBusInterfaceInfo* ParseInterface(const char* xml, const char* name);

// Registers `data` at `path` with `info`'s methods and properties. 0, with a
// log line naming `what`, when there is nothing to register or the bus refuses.
guint ExportObject(GDBusConnection* connection, const char* path, GDBusInterfaceInfo* info,
                   const GDBusInterfaceVTable* vtable, gpointer data, const char* what);

// The answer to a method the exported interface does not have.
void ReturnUnknownMethod(GDBusMethodInvocation* invocation);

}  // namespace detail
}  // namespace UiLib
