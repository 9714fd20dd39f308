#include "tray/status_notifier_watch.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "runtime.h"

namespace UiLib {
namespace detail {
namespace {

// How long the tray waits for the bus before it shows an XEmbed icon meanwhile.
constexpr guint kFirstAnswerMs = 1500;

// The session bus address, without GLib's fallback of starting a bus of its
// own through dbus-launch when none is known.
std::string SessionBusAddress() {
    const char* known = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (known && *known) return known;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') return {};
    std::string socket = std::string(runtime) + "/bus";
    // Something there that is neither a file nor a folder: the bus's socket.
    if (!g_file_test(socket.c_str(), G_FILE_TEST_EXISTS) ||
        g_file_test(socket.c_str(), static_cast<GFileTest>(G_FILE_TEST_IS_REGULAR | G_FILE_TEST_IS_DIR)))
        return {};
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

}  // namespace

StatusNotifierWatch& StatusNotifierWatch::Get() {
    static auto* watch = new StatusNotifierWatch();  // followed until the process ends
    return *watch;
}

int StatusNotifierWatch::AddListener(std::function<void()> listener) {
    int id = nextListener_++;
    listeners_[id] = std::move(listener);
    return id;
}

void StatusNotifierWatch::RemoveListener(int id) { listeners_.erase(id); }

void StatusNotifierWatch::SetState(State state) {
    if (state == state_) return;
    state_ = state;
    Log(std::string("tray: status notifier host ") +
        (state == State::Available ? "available" : state == State::Unavailable ? "unavailable" : "unknown"));
    // A listener may add or remove listeners.
    std::vector<std::function<void()>> snapshot;
    for (auto& entry : listeners_) snapshot.push_back(entry.second);
    for (auto& listener : snapshot) listener();
}

void StatusNotifierWatch::Start() {
    if (started_) return;
    started_ = true;
    address_ = SessionBusAddress();
    if (address_.empty()) {
        SetState(State::Unavailable);
        return;
    }
    g_dbus_connection_new_for_address(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &StatusNotifierWatch::OnConnectionReady, this);
    g_timeout_add(kFirstAnswerMs, [](gpointer self) -> gboolean {
        auto* watch = static_cast<StatusNotifierWatch*>(self);
        if (watch->state_ == State::Unknown) watch->SetState(State::Unavailable);
        return G_SOURCE_REMOVE;
    }, this);
}

void StatusNotifierWatch::OnConnectionReady(GObject*, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<StatusNotifierWatch*>(data);
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
    if (!connection) {
        Log(std::string("tray: no session bus: ") + (error ? error->message : "?"));
        if (error) g_error_free(error);
        self->SetState(State::Unavailable);
        return;
    }
    self->OnConnected(connection);
}

void StatusNotifierWatch::OnConnected(GDBusConnection* connection) {
    connection_ = connection;  // kept for the life of the process
    g_dbus_connection_set_exit_on_close(connection_, FALSE);
    g_signal_connect(connection_, "closed", G_CALLBACK(&StatusNotifierWatch::OnClosed), this);
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        g_dbus_connection_signal_subscribe(connection_, kWatcherBusName, kWatcherInterface, signal, kWatcherPath,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &StatusNotifierWatch::OnHostSignal, this,
                                           nullptr);
    }
    g_bus_watch_name_on_connection(connection_, kWatcherBusName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                   &StatusNotifierWatch::OnWatcherAppeared, &StatusNotifierWatch::OnWatcherVanished,
                                   this, nullptr);
}

void StatusNotifierWatch::OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    auto* self = static_cast<StatusNotifierWatch*>(data);
    Log("tray: the session bus closed the connection");
    self->watcherPresent_ = false;
    ++self->hostQuery_;
    self->SetState(State::Unavailable);
}

void StatusNotifierWatch::OnWatcherAppeared(GDBusConnection*, const char*, const char*, gpointer data) {
    auto* self = static_cast<StatusNotifierWatch*>(data);
    self->watcherPresent_ = true;
    self->AskForHost();
}

void StatusNotifierWatch::OnWatcherVanished(GDBusConnection*, const char*, gpointer data) {
    auto* self = static_cast<StatusNotifierWatch*>(data);
    self->watcherPresent_ = false;
    ++self->hostQuery_;
    self->SetState(State::Unavailable);
}

void StatusNotifierWatch::OnHostSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                                       GVariant*, gpointer data) {
    auto* self = static_cast<StatusNotifierWatch*>(data);
    if (self->watcherPresent_) self->AskForHost();
}

struct HostQuery {
    StatusNotifierWatch* watch;
    unsigned generation;
};

void StatusNotifierWatch::AskForHost() {
    auto* query = new HostQuery{this, ++hostQuery_};
    g_dbus_connection_call(connection_, kWatcherBusName, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", kWatcherInterface, "IsStatusNotifierHostRegistered"),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr,
                           &StatusNotifierWatch::OnHostAnswer, query);
}

void StatusNotifierWatch::OnHostAnswer(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<HostQuery> query(static_cast<HostQuery*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    // A watcher that cannot say whether a host runs is taken at its word that items show.
    bool host = true;
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) host = g_variant_get_boolean(value);
        if (value) g_variant_unref(value);
        g_variant_unref(reply);
    }
    if (error) g_error_free(error);
    StatusNotifierWatch* self = query->watch;
    if (query->generation != self->hostQuery_ || !self->watcherPresent_) return;  // a newer question is out
    self->SetState(host ? State::Available : State::Unavailable);
}

}  // namespace detail
}  // namespace UiLib
