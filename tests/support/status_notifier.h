// A private session bus for a test, and a StatusNotifierWatcher with a host on
// it, as a desktop panel runs them: items register with the watcher, and the
// host reads their properties and menus and clicks them over D-Bus.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace qmtest {

// dbus-daemon on a socket in a temporary folder (or at `socketPath`), stopped
// by the destructor.
class SessionBus {
public:
    explicit SessionBus(const std::string& socketPath = "");
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;
    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    int pid_ = -1;
    std::string address_;
};

struct MenuEntry {
    int id = 0;
    std::string label;
};

// The watcher and host on their own connection, served by a thread of their own.
class StatusNotifierHost {
public:
    explicit StatusNotifierHost(const std::string& busAddress);
    ~StatusNotifierHost();
    StatusNotifierHost(const StatusNotifierHost&) = delete;
    StatusNotifierHost& operator=(const StatusNotifierHost&) = delete;

    // Takes the watcher's name (with a host registered, or none); false when the bus refused.
    bool StartWatcher(bool withHost = true);
    // Gives the name up again: items see the watcher go away.
    void StopWatcher();

    // How often an item asked whether a host is registered.
    int HostQueries() const;
    // Items registered since the watcher started whose connection is still
    // there, as "busname/path".
    std::vector<std::string> Items() const;
    std::optional<std::string> WaitForItem(std::chrono::milliseconds timeout) const;

    // A property of an item (null on failure; the caller unrefs).
    GVariant* Property(const std::string& item, const char* name) const;
    std::string StringProperty(const std::string& item, const char* name) const;
    // Waits until the string property has `value`.
    bool WaitForString(const std::string& item, const char* name, const std::string& value,
                       std::chrono::milliseconds timeout) const;
    // Calls Activate, SecondaryActivate or ContextMenu.
    bool Call(const std::string& item, const char* method) const;
    // The item's menu as its host reads it (GetLayout of the "Menu" object).
    std::vector<MenuEntry> Menu(const std::string& item) const;
    bool ClickMenu(const std::string& item, int id) const;

private:
    void Serve();
    void RunOnThread(const std::function<void()>& task);
    static void OnMethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
    static GVariant* OnGetProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                                   GError**, gpointer self);

    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
    GDBusConnection* connection_ = nullptr;
    unsigned registration_ = 0;
    unsigned nameOwner_ = 0;
    bool withHost_ = true;
    std::vector<unsigned> nameWatches_;  // the items' names (host thread)
    mutable std::mutex lock_;
    std::vector<std::string> items_;
    int hostQueries_ = 0;
};

}  // namespace qmtest
