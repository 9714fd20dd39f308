#include "tests/support/session.h"

#include <cstdlib>
#include <cstring>

namespace qmtest {

const std::vector<std::string>& SessionVariables() {
    static const std::vector<std::string> names = {
        // The bus: libdbus and GLib also look for $XDG_RUNTIME_DIR/bus, and
        // start a bus of their own on $DISPLAY when they find none.
        "DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE",
        // The sound server: also found as $XDG_RUNTIME_DIR/pulse/native, and
        // through a property of the display's root window.
        "PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "PULSE_COOKIE",
        // The display and the accessibility bus that comes with it.
        "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "AT_SPI_BUS_ADDRESS",
        // The runtime folder and the desktop the toolkit adapts to.
        "XDG_RUNTIME_DIR", "XDG_SESSION_ID", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
        "SESSION_MANAGER", "GTK_MODULES"};
    return names;
}

void LeaveDesktopSession() {
    for (const std::string& name : SessionVariables()) unsetenv(name.c_str());
}

std::map<std::string, std::string> ServerEnvironment(const std::map<std::string, std::string>& meant) {
    std::map<std::string, std::string> env;
    for (const std::string& name : SessionVariables()) env[name] = "";
    for (const auto& kv : meant) env[kv.first] = kv.second;
    return env;
}

}  // namespace qmtest
