// Whether the desktop shows StatusNotifierItems: a session bus on which a
// StatusNotifierWatcher owns its name and reports a registered host. Followed
// for the life of the process, so tray icons can move when the watcher comes or
// goes. UI thread only.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <map>
#include <string>

namespace UiLib {
namespace detail {

constexpr const char* kWatcherBusName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";
// Calls to the bus never block the UI thread; an unanswered one gives up after this.
constexpr int kBusCallTimeoutMs = 5000;

class StatusNotifierWatch {
public:
    enum class State {
        Unknown,      // still asking the bus
        Available,    // a watcher with a host: items show
        Unavailable,  // no session bus, no watcher or no host
    };

    static StatusNotifierWatch& Get();

    // Connects to the session bus (once; asynchronous). Without a session bus
    // address the state is Unavailable at once; an answer that takes longer
    // than a moment counts as Unavailable until it arrives.
    void Start();
    State state() const { return state_; }
    // The session bus's address (empty without one).
    const std::string& address() const { return address_; }

    // Called after every change of state.
    int AddListener(std::function<void()> listener);
    void RemoveListener(int id);

private:
    StatusNotifierWatch() = default;
    void SetState(State state);
    void OnConnected(GDBusConnection* connection);
    void AskForHost();
    static void OnConnectionReady(GObject*, GAsyncResult* result, gpointer);
    static void OnWatcherAppeared(GDBusConnection*, const char*, const char* owner, gpointer);
    static void OnWatcherVanished(GDBusConnection*, const char*, gpointer);
    static void OnHostSignal(GDBusConnection*, const char*, const char*, const char*, const char* signal, GVariant*,
                             gpointer);
    static void OnHostAnswer(GObject* source, GAsyncResult* result, gpointer);
    static void OnClosed(GDBusConnection*, gboolean, GError*, gpointer);

    bool started_ = false;
    std::string address_;
    State state_ = State::Unknown;
    GDBusConnection* connection_ = nullptr;
    bool watcherPresent_ = false;
    unsigned hostQuery_ = 0;  // generation of the latest host question
    std::map<int, std::function<void()>> listeners_;
    int nextListener_ = 1;
};

}  // namespace detail
}  // namespace UiLib
