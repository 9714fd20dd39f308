#include "tests/support/status_notifier.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>

#include "tests/support/process.h"
#include "tests/support/session.h"

namespace qmtest {
namespace {

const char kWatcherName[] = "org.kde.StatusNotifierWatcher";
const char kWatcherPath[] = "/StatusNotifierWatcher";
const char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
const char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr int kCallTimeoutMs = 10000;

const char kWatcherXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>)xml";

const char kBusConfig[] = R"xml(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>LISTEN</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
)xml";

// "busname/path" into its two parts.
bool SplitItem(const std::string& item, std::string& name, std::string& path) {
    size_t slash = item.find('/');
    if (slash == std::string::npos) return false;
    name = item.substr(0, slash);
    path = item.substr(slash);
    return true;
}

}  // namespace

SessionBus::SessionBus(const std::string& socketPath) {
    std::string config = dir_.File("bus.conf");
    std::string text = kBusConfig;
    std::string listen = socketPath.empty() ? "unix:dir=" + dir_.path() : "unix:path=" + socketPath;
    text.replace(text.find("LISTEN"), 6, listen);
    if (!WriteFile(config, text)) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const ExecPlan plan(
        {"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=" + std::to_string(fds[1])},
        ServerEnvironment());
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        KeepAcrossExec(fds[1]);
        plan.Exec();
        _exit(127);
    }
    close(fds[1]);
    // The daemon prints its address once it listens.
    address_ = ReadLineAndClose(fds[0]);
}

SessionBus::~SessionBus() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
    }
}

StatusNotifierHost::StatusNotifierHost(const std::string& busAddress) {
    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (error) {
        ADD_FAILURE() << "cannot connect to the test bus: " << error->message;
        g_error_free(error);
    }
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    thread_ = std::thread([this] { Serve(); });
}

StatusNotifierHost::~StatusNotifierHost() {
    StopWatcher();
    g_main_loop_quit(loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
}

void StatusNotifierHost::Serve() {
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
}

void StatusNotifierHost::RunOnThread(const std::function<void()>& task) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    struct Call {
        const std::function<void()>* task;
        std::mutex* m;
        std::condition_variable* cv;
        bool* done;
    } call{&task, &m, &cv, &done};
    g_main_context_invoke(context_, [](gpointer data) -> gboolean {
        auto* c = static_cast<Call*>(data);
        (*c->task)();
        std::lock_guard<std::mutex> lock(*c->m);
        *c->done = true;
        c->cv->notify_all();
        return G_SOURCE_REMOVE;
    }, &call);
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return done; });
}

bool StatusNotifierHost::StartWatcher(bool withHost) {
    if (!connection_ || registration_) return false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        withHost_ = withHost;
        items_.clear();
    }
    RunOnThread([this] {
        static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable = {&StatusNotifierHost::OnMethodCall,
                                                    &StatusNotifierHost::OnGetProperty, nullptr, {}};
        registration_ = g_dbus_connection_register_object(connection_, kWatcherPath, node->interfaces[0], &vtable,
                                                          this, nullptr, nullptr);
    });
    GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", kWatcherName, 4u), G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    return result == 1;  // primary owner
}

void StatusNotifierHost::StopWatcher() {
    if (!connection_ || !registration_) return;
    GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "ReleaseName",
                                                  g_variant_new("(s)", kWatcherName), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  kCallTimeoutMs, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    RunOnThread([this] {
        g_dbus_connection_unregister_object(connection_, registration_);
        registration_ = 0;
        for (unsigned watch : nameWatches_) g_bus_unwatch_name(watch);
        nameWatches_.clear();
    });
}

void StatusNotifierHost::OnMethodCall(GDBusConnection* connection, const char* sender, const char*, const char*,
                                      const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                                      gpointer data) {
    auto* self = static_cast<StatusNotifierHost*>(data);
    const char* service;
    g_variant_get(parameters, "(&s)", &service);
    if (std::string(method) == "RegisterStatusNotifierItem") {
        // A path names an object of the caller; a bus name means its "/StatusNotifierItem".
        std::string item = service[0] == '/' ? std::string(sender) + service
                                             : std::string(service) + "/StatusNotifierItem";
        {
            std::lock_guard<std::mutex> lock(self->lock_);
            self->items_.push_back(item);
        }
        // An item is gone when its connection's name is.
        std::string owner = service[0] == '/' ? sender : service;
        self->nameWatches_.push_back(g_bus_watch_name_on_connection(
            connection, owner.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection* connection, const char* name, gpointer data) {
                auto* host = static_cast<StatusNotifierHost*>(data);
                std::vector<std::string> gone;
                {
                    std::lock_guard<std::mutex> lock(host->lock_);
                    for (auto it = host->items_.begin(); it != host->items_.end();) {
                        if (it->compare(0, std::strlen(name) + 1, std::string(name) + "/") == 0) {
                            gone.push_back(*it);
                            it = host->items_.erase(it);
                        } else {
                            ++it;
                        }
                    }
                }
                for (const auto& item : gone)
                    g_dbus_connection_emit_signal(connection, nullptr, kWatcherPath, kWatcherInterface,
                                                  "StatusNotifierItemUnregistered",
                                                  g_variant_new("(s)", item.c_str()), nullptr);
            },
            self, nullptr));
        g_dbus_connection_emit_signal(connection, nullptr, kWatcherPath, kWatcherInterface,
                                      "StatusNotifierItemRegistered", g_variant_new("(s)", item.c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* StatusNotifierHost::OnGetProperty(GDBusConnection*, const char*, const char*, const char*,
                                            const char* property, GError**, gpointer data) {
    auto* self = static_cast<StatusNotifierHost*>(data);
    std::string name = property;
    std::lock_guard<std::mutex> lock(self->lock_);
    if (name == "IsStatusNotifierHostRegistered") {
        ++self->hostQueries_;
        return g_variant_new_boolean(self->withHost_);
    }
    if (name == "ProtocolVersion") return g_variant_new_int32(0);
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const auto& item : self->items_) g_variant_builder_add(&builder, "s", item.c_str());
    return g_variant_builder_end(&builder);
}

int StatusNotifierHost::HostQueries() const {
    std::lock_guard<std::mutex> lock(lock_);
    return hostQueries_;
}

std::vector<std::string> StatusNotifierHost::Items() const {
    std::lock_guard<std::mutex> lock(lock_);
    return items_;
}

std::optional<std::string> StatusNotifierHost::WaitForItem(std::chrono::milliseconds timeout) const {
    std::optional<std::string> found;
    WaitUntil([&] {
        std::vector<std::string> items = Items();
        if (!items.empty()) found = items.back();
        return found.has_value();
    }, timeout);
    return found;
}

GVariant* StatusNotifierHost::Property(const std::string& item, const char* name) const {
    std::string bus, path;
    if (!SplitItem(item, bus, path)) return nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection_, bus.c_str(), path.c_str(),
                                                  "org.freedesktop.DBus.Properties", "Get",
                                                  g_variant_new("(ss)", kItemInterface, name), G_VARIANT_TYPE("(v)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (!reply) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    return value;
}

std::string StatusNotifierHost::StringProperty(const std::string& item, const char* name) const {
    GVariant* value = Property(item, name);
    std::string text;
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) text = g_variant_get_string(value, nullptr);
    if (value) g_variant_unref(value);
    return text;
}

bool StatusNotifierHost::WaitForString(const std::string& item, const char* name, const std::string& value,
                                       std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return StringProperty(item, name) == value; }, timeout);
}

bool StatusNotifierHost::Call(const std::string& item, const char* method) const {
    std::string bus, path;
    if (!SplitItem(item, bus, path)) return false;
    GVariant* reply = g_dbus_connection_call_sync(connection_, bus.c_str(), path.c_str(), kItemInterface, method,
                                                  g_variant_new("(ii)", 10, 10), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  kCallTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
}

std::vector<MenuEntry> StatusNotifierHost::Menu(const std::string& item) const {
    std::vector<MenuEntry> entries;
    std::string bus, path;
    GVariant* menuPath = Property(item, "Menu");
    if (!menuPath || !SplitItem(item, bus, path)) {
        if (menuPath) g_variant_unref(menuPath);
        return entries;
    }
    const char* emptyNames[] = {nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, bus.c_str(), g_variant_get_string(menuPath, nullptr), "com.canonical.dbusmenu", "GetLayout",
        g_variant_new("(ii^as)", 0, -1, emptyNames), G_VARIANT_TYPE("(u(ia{sv}av))"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, nullptr);
    g_variant_unref(menuPath);
    if (!reply) return entries;
    GVariant* layout = g_variant_get_child_value(reply, 1);
    GVariant* children = g_variant_get_child_value(layout, 2);
    for (gsize i = 0; i < g_variant_n_children(children); ++i) {
        GVariant* boxed = g_variant_get_child_value(children, i);
        GVariant* child = g_variant_get_variant(boxed);
        MenuEntry entry;
        GVariant* properties = nullptr;
        g_variant_get(child, "(i@a{sv}av)", &entry.id, &properties, nullptr);
        const char* label = nullptr;
        if (g_variant_lookup(properties, "label", "&s", &label)) entry.label = label;
        entries.push_back(entry);
        g_variant_unref(properties);
        g_variant_unref(child);
        g_variant_unref(boxed);
    }
    g_variant_unref(children);
    g_variant_unref(layout);
    g_variant_unref(reply);
    return entries;
}

bool StatusNotifierHost::ClickMenu(const std::string& item, int id) const {
    std::string bus, path;
    GVariant* menuPath = Property(item, "Menu");
    if (!menuPath || !SplitItem(item, bus, path)) {
        if (menuPath) g_variant_unref(menuPath);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, bus.c_str(), g_variant_get_string(menuPath, nullptr), "com.canonical.dbusmenu", "Event",
        g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u), nullptr, G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, nullptr);
    g_variant_unref(menuPath);
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
}

}  // namespace qmtest
