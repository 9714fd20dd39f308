#include "tests/support/display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/process.h"
#include "tests/support/session.h"

namespace qmtest {
namespace {
std::string g_display;

// In a forked child: ends it when the test program ends, also on a crash or
// an abort, so that no server outlives the test (and keeps its output open).
void DieWithParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);  // the parent ended before the line above
}
}  // namespace

const std::string& XvfbEnvironment::display() { return g_display; }

void XvfbEnvironment::SetUp() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const ExecPlan plan({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen_, "-nolisten", "tcp",
                         "-noreset"},
                        ServerEnvironment());
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        DieWithParent(parent);
        KeepAcrossExec(fds[1]);
        plan.Exec();
        _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts connections.
    std::string number = ReadLineAndClose(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return;
    }
    g_display = ":" + number;
    setenv("DISPLAY", g_display.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");
}

void XvfbEnvironment::TearDown() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
    }
}

void UsePrivateDisplay(const std::string& screen) {
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment(screen));
}

int StartTrayHost() {
    // The test's display, and its bus when it made one: left out of the
    // overrides, they are inherited as the test set them.
    std::map<std::string, std::string> env = ServerEnvironment();
    env.erase("DISPLAY");
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    const ExecPlan plan({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "200",
                         "--height", "32"},
                        env);
    pid_t parent = getpid();
    int pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        DieWithParent(parent);
        plan.Exec();
        _exit(127);
    }
    return pid;
}

}  // namespace qmtest
