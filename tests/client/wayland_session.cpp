#include "tests/client/wayland_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "tests/support/x_probe.h"

using namespace std::chrono_literals;

namespace qmtest {
namespace {

// sway's IPC: "i3-ipc", payload length and message type (native order), payload.
constexpr char kMagic[] = "i3-ipc";
constexpr int kRunCommand = 0;
constexpr int kGetTree = 4;

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes, waiting at most 10 s in all.
bool ReadAll(int fd, char* data, size_t size) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (size > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        ssize_t n = read(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void Walk(const Json::Value& node, const std::string& title, std::optional<WaylandView>& found) {
    if (node.isMember("app_id") && node["name"].asString() == title && !found) {
        WaylandView view;
        view.title = title;
        const Json::Value& rect = node["rect"];
        view.x = rect["x"].asInt();
        view.y = rect["y"].asInt();
        view.width = rect["width"].asInt();
        view.height = rect["height"].asInt();
        view.focused = node["focused"].asBool();
        view.urgent = node["urgent"].asBool();
        view.visible = node["visible"].asBool();
        found = view;
    }
    for (const char* list : {"nodes", "floating_nodes"})
        for (const Json::Value& child : node[list]) Walk(child, title, found);
}

}  // namespace

WaylandSession::WaylandSession(int width, int height, int scale, Activation activation)
    : width_(width), height_(height), scale_(scale) {
    runtime_ = dir_.File("compositor");
    mkdir(runtime_.c_str(), 0700);
    mkdir(dir_.File("client").c_str(), 0700);
    ipcSocket_ = runtime_ + "/ipc.sock";
    std::string config = dir_.File("config");
    WriteFile(config, "xwayland disable\n"
                      "output HEADLESS-1 resolution " + std::to_string(width) + "x" + std::to_string(height) +
                          " scale " + std::to_string(scale) + "\n"
                      "default_border none\ndefault_floating_border none\n"
                      "floating_maximum_size -1 x -1\n"
                      "for_window [app_id=\".*\"] floating enable\n"
                      "focus_on_window_activation " +
                          std::string(activation == Activation::Focus ? "focus" : "urgent") + "\n");
    // The compositor refuses to run as root: it runs as "nobody" when the test is root.
    bool root = getuid() == 0;
    passwd* nobody = root ? getpwnam("nobody") : nullptr;
    if (root && !nobody) {
        error_ = "no user nobody";
        return;
    }
    // The folder is the test's (mode 0700): the compositor's user may pass through to its own.
    if (nobody && (chmod(dir_.path().c_str(), 0711) != 0 || chmod(config.c_str(), 0644) != 0 ||
                   chown(runtime_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)) {
        error_ = "the compositor's folder cannot be handed to nobody";
        return;
    }
    std::vector<std::string> argv = {"sway", "-c", config};
    if (nobody) {
        argv = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid), "--regid=" + std::to_string(nobody->pw_gid),
                "--clear-groups", "--pdeathsig", "TERM", "sway", "-c", config};
    }
    const qmtest::ExecPlan plan(argv,
                                {{"PATH", "/usr/bin:/bin"},
                                 {"HOME", runtime_},
                                 {"XDG_RUNTIME_DIR", runtime_},
                                 {"SWAYSOCK", ipcSocket_},
                                 {"WLR_BACKENDS", "headless"},
                                 {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                 {"WLR_RENDERER", "pixman"}},
                                true);
    int out = ::open(dir_.File("compositor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        if (getppid() != parent) _exit(0);
        if (out >= 0) dup2(out, 1), dup2(out, 2);
        plan.Exec();
        _exit(127);
    }
    if (out >= 0) close(out);
    // Up once its IPC answers and its display socket is there.
    bool up = WaitUntil([&] {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        for (const std::string& name : ListDir(runtime_)) {
            if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) socket_ = runtime_ + "/" + name;
        }
        return !socket_.empty() && Ipc(nullptr).has_value();
    }, 30s);
    if (!up || pid_ < 0) {
        error_ = "the compositor did not start: " + ReadFile(dir_.File("compositor.log"));
        return;
    }
    int toPointer[2], fromPointer[2];
    if (pipe(toPointer) != 0 || pipe(fromPointer) != 0) return;
    const std::string tool = ToolsDir() + "/qm_wlpointer";
    const qmtest::ExecPlan pointerPlan({tool, std::to_string(layoutWidth()), std::to_string(layoutHeight())},
                                {{"WAYLAND_DISPLAY", socket_}});
    pointerPid_ = fork();
    if (pointerPid_ == 0) {
        dup2(toPointer[0], 0);
        dup2(fromPointer[1], 1);
        close(toPointer[1]);
        close(fromPointer[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        pointerPlan.Exec();
        _exit(127);
    }
    close(toPointer[0]);
    close(fromPointer[1]);
    pointerIn_ = toPointer[1];
    pointerOut_ = fromPointer[0];
    // The tool says "ok" once its device exists.
    std::optional<std::string> ready = PointerAnswer();
    started_ = ready && *ready == "ok";
    if (!started_) error_ = "the pointer device could not be made";
}

WaylandSession::~WaylandSession() {
    if (pointerIn_ >= 0) close(pointerIn_);
    if (pointerOut_ >= 0) close(pointerOut_);
    if (pointerPid_ > 0) {
        kill(pointerPid_, SIGTERM);
        waitpid(pointerPid_, nullptr, 0);
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 10s)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
}

std::map<std::string, std::string> WaylandSession::ClientEnv() const {
    // An absolute WAYLAND_DISPLAY needs no runtime folder of the compositor's.
    return {{"WAYLAND_DISPLAY", socket_}, {"XDG_RUNTIME_DIR", dir_.File("client")}, {"DISPLAY", ""},
            {"GDK_BACKEND", ""}};
}

std::optional<Json::Value> WaylandSession::Ipc(const char* type, const std::string& payload) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, ipcSocket_.c_str(), sizeof(address.sun_path) - 1);
    std::optional<Json::Value> result;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        std::uint32_t header[2] = {static_cast<std::uint32_t>(payload.size()),
                                   static_cast<std::uint32_t>(type ? (std::strcmp(type, "tree") == 0 ? kGetTree
                                                                                                      : kRunCommand)
                                                                   : 7 /* GET_VERSION */)};
        char reply[14];
        if (WriteAll(fd, kMagic, 6) && WriteAll(fd, reinterpret_cast<char*>(header), 8) &&
            WriteAll(fd, payload.data(), payload.size()) && ReadAll(fd, reply, 14)) {
            std::uint32_t length = 0;
            std::memcpy(&length, reply + 6, 4);
            std::string body(length, '\0');
            Json::Value value;
            Json::CharReaderBuilder builder;
            std::string errors;
            std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
            if (ReadAll(fd, body.data(), length) &&
                reader->parse(body.data(), body.data() + body.size(), &value, &errors))
                result = value;
        }
    }
    close(fd);
    return result;
}

bool WaylandSession::Command(const std::string& command) {
    std::optional<Json::Value> reply = Ipc("command", command);
    if (!reply || !reply->isArray() || reply->empty()) return false;
    for (const Json::Value& r : *reply)
        if (!r["success"].asBool()) return false;
    return true;
}

std::optional<WaylandView> WaylandSession::FindView(const std::string& title) {
    std::optional<Json::Value> tree = Ipc("tree");
    std::optional<WaylandView> found;
    if (tree) Walk(*tree, title, found);
    return found;
}

bool WaylandSession::Screenshot(const std::string& png) {
    return RunProcess({"/usr/bin/grim", png}, 30s, {{"WAYLAND_DISPLAY", socket_}}) == 0;
}

std::optional<std::string> WaylandSession::PointerAnswer() {
    std::string line;
    char c = 0;
    while (line.size() < 1024 && ReadAll(pointerOut_, &c, 1)) {
        if (c == '\n') return line;
        line += c;
    }
    return std::nullopt;
}

bool WaylandSession::Pointer(const std::string& command) {
    if (!started_) return false;
    std::string line = command + "\n";
    if (!WriteAll(pointerIn_, line.data(), line.size())) return false;
    std::optional<std::string> answer = PointerAnswer();
    return answer && *answer == "ok";
}

std::string WaylandSession::ActivationToken() {
    if (!started_ || !WriteAll(pointerIn_, "token\n", 6)) return "";
    std::optional<std::string> answer = PointerAnswer();
    return answer && answer->rfind("ok ", 0) == 0 ? answer->substr(3) : "";
}

bool WaylandSession::PointerMove(int x, int y) { return Pointer("move " + std::to_string(x) + " " + std::to_string(y)); }
bool WaylandSession::PointerDown() { return Pointer("down"); }
bool WaylandSession::PointerUp() { return Pointer("up"); }

}  // namespace qmtest
