// qm_desktop_session -- COMMAND [ARG...]
// Runs COMMAND inside a session like a developer's desktop: a session bus (at
// $XDG_RUNTIME_DIR/bus and in DBUS_SESSION_BUS_ADDRESS) on which a sound
// server owns its bus name and a tray watcher with a host waits for icons, that
// sound server (at $XDG_RUNTIME_DIR/pulse/native and in PULSE_SERVER), and a
// display of its own. The test suite runs inside it to show that no test
// reaches the session it was started from: a test that did would collide with
// the sound server's name, or put its icons into this watcher.
// Exits with COMMAND's exit code; 125 when the session could not be set up.
#include <gio/gio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/session.h"
#include "tests/support/status_notifier.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSetupFailed = 125;
pid_t g_command = -1;

void ForwardSignal(int sig) {
    if (g_command > 0) kill(g_command, sig);
}

bool NameHasOwner(const std::string& busAddress, const char* name) {
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        g_error_free(error);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return owned;
}

// Xvfb on a free display; its number, or empty.
std::string StartDisplay(qmtest::ChildProcess& server) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    server.Start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
                  "tcp"},
                 qmtest::ServerEnvironment());
    close(fds[1]);
    std::string number = qmtest::ReadLineAndClose(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "qm_desktop_session: %s\n", what.c_str());
    return kSetupFailed;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
    if (first >= argc) return Fail("usage: qm_desktop_session -- COMMAND [ARG...]");
    qmtest::LeaveDesktopSession();

    qmtest::TempDir runtime;
    if (runtime.path().empty()) return Fail("no runtime folder");
    chmod(runtime.path().c_str(), 0700);
    mkdir(runtime.File("pulse").c_str(), 0700);
    mkdir(runtime.File("home").c_str(), 0700);

    qmtest::SessionBus bus(runtime.File("bus"));
    if (!bus.started()) return Fail("the session bus did not start");

    // The desktop's sound server, as a desktop starts it: on the session bus,
    // where it takes the sound server's bus name.
    std::string pulseSocket = runtime.File("pulse/native");
    qmtest::WriteFile(runtime.File("desktop.pa"),
                      "load-module module-native-protocol-unix auth-anonymous=1 socket=" + pulseSocket +
                          "\nload-module module-null-sink sink_name=desktop_speaker\n");
    std::vector<std::string> pulseArgv = {"/usr/bin/pulseaudio", "-n", "-F", runtime.File("desktop.pa"),
                                          "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                          "--log-target=stderr", "--disallow-exit"};
    if (geteuid() == 0) pulseArgv.push_back("--system=no");
    qmtest::ChildProcess pulse;
    pulse.Start(pulseArgv,
                qmtest::ServerEnvironment({{"HOME", runtime.File("home")},
                                           {"XDG_RUNTIME_DIR", runtime.path()},
                                           {"DBUS_SESSION_BUS_ADDRESS", bus.address()}}),
                runtime.File("pulse.out"));
    if (!qmtest::WaitUntil([&] { return NameHasOwner(bus.address(), "org.PulseAudio1") || !pulse.Running(); }, 30s) ||
        !pulse.Running())
        return Fail("the sound server did not take its bus name: " + qmtest::ReadFile(runtime.File("pulse.out")));

    qmtest::StatusNotifierHost tray(bus.address());
    if (!tray.StartWatcher(true)) return Fail("the tray watcher did not take its bus name");

    qmtest::ChildProcess xserver;
    std::string display = StartDisplay(xserver);
    if (display.empty()) return Fail("the display did not start");

    std::fprintf(stderr, "qm_desktop_session: bus %s, sound server %s, display %s, runtime folder %s\n",
                 bus.address().c_str(), pulseSocket.c_str(), display.c_str(), runtime.path().c_str());
    signal(SIGINT, SIG_IGN);  // the command, in this terminal's group too, gets it and ends
    signal(SIGTERM, ForwardSignal);
    signal(SIGHUP, ForwardSignal);
    std::vector<std::string> command(argv + first, argv + argc);
    const qmtest::ExecPlan plan(command, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()},
                                          {"XDG_RUNTIME_DIR", runtime.path()},
                                          {"PULSE_SERVER", "unix:" + pulseSocket},
                                          {"DISPLAY", display}});
    const std::string cannotRun = "qm_desktop_session: cannot run " + command.front() + "\n";
    g_command = fork();
    if (g_command < 0) return Fail("cannot start the command");
    if (g_command == 0) {
        signal(SIGINT, SIG_DFL);
        plan.Exec();
        ssize_t written = write(2, cannotRun.data(), cannotRun.size());
        _exit(written >= 0 ? 127 : 126);
    }
    int status = 0;
    while (waitpid(g_command, &status, 0) < 0 && errno == EINTR) {
    }
    // The session must have outlived the command: a test that stopped the
    // desktop's sound server or watcher reached the session.
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!pulse.Running() || !NameHasOwner(bus.address(), "org.kde.StatusNotifierWatcher")) {
        std::fprintf(stderr, "qm_desktop_session: the session's sound server or tray watcher went away\n");
        if (code == 0) code = 1;
    }
    if (tray.HostQueries() > 0 || !tray.Items().empty()) {
        std::string items;
        for (const std::string& item : tray.Items()) items += " " + item;
        std::fprintf(stderr,
                     "qm_desktop_session: a tray icon of the tests reached the session's watcher (%d host "
                     "queries, items:%s)\n",
                     tray.HostQueries(), items.empty() ? " none" : items.c_str());
        if (code == 0) code = 1;
    }
    tray.StopWatcher();
    return code;
}
