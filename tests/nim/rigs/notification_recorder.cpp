#include "tests/nim/rigs/notification_recorder.h"

#include <gio/gio.h>

namespace qmtest {

namespace {

constexpr const char kXml[] =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "<method name='GetServerInformation'><arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "<arg type='s' direction='out'/><arg type='s' direction='out'/></method>"
    "</interface></node>";

void OnCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer self) {
    std::string m = method;
    if (m == "Notify") {
        const char* summary = nullptr;
        const char* body = nullptr;
        g_variant_get_child(parameters, 3, "&s", &summary);
        g_variant_get_child(parameters, 4, "&s", &body);
        static_cast<NotificationRecorder*>(self)->Record(std::string(summary) + ": " + body);
        static guint32 id = 0;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++id));
    } else if (m == "GetCapabilities") {
        const char* caps[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
    } else if (m == "GetServerInformation") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "recorder", "qm", "1.0", "1.2"));
    } else {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

}  // namespace

NotificationRecorder::NotificationRecorder(const std::string& busAddress) {
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    // The connection belongs to the recorder's context: calls are served by its thread.
    g_main_context_push_thread_default(context_);
    connection_ = g_dbus_connection_new_for_address_sync(
        busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (connection_) {
        static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
        static const GDBusInterfaceVTable vtable = {&OnCall, nullptr, nullptr, {}};
        registration_ = g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications",
                                                          node->interfaces[0], &vtable, this, nullptr, nullptr);
    }
    g_main_context_pop_thread_default(context_);
    if (connection_) {
        GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "RequestName",
                                                      g_variant_new("(su)", "org.freedesktop.Notifications", 4u),
                                                      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                                      nullptr);
        guint32 result = 0;
        if (reply) {
            g_variant_get(reply, "(u)", &result);
            g_variant_unref(reply);
        }
        owned_ = result == 1;
    }
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
}

NotificationRecorder::~NotificationRecorder() {
    g_main_loop_quit(loop_);
    thread_.join();
    if (connection_) {
        if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void NotificationRecorder::Record(std::string text) {
    std::lock_guard<std::mutex> lock(lock_);
    shown_.push_back(std::move(text));
    changed_.notify_all();
}

std::vector<std::string> NotificationRecorder::Shown() const {
    std::lock_guard<std::mutex> lock(lock_);
    return shown_;
}

size_t NotificationRecorder::count() const {
    std::lock_guard<std::mutex> lock(lock_);
    return shown_.size();
}

bool NotificationRecorder::WaitFor(const std::vector<std::string>& parts, std::chrono::milliseconds timeout,
                                   size_t skip) const {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
        for (size_t i = skip; i < shown_.size(); ++i) {
            bool all = true;
            for (const std::string& p : parts) all = all && shown_[i].find(p) != std::string::npos;
            if (all) return true;
        }
        return false;
    });
}

}  // namespace qmtest
