#include "platform/instance_guard.h"

#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The holder may sit between bind and listen, or its queue may be full for a
// moment when many starts come at once: connecting is retried for this long.
constexpr auto kConnectPatience = std::chrono::milliseconds(2000);
constexpr auto kConnectRetryPause = std::chrono::milliseconds(20);
constexpr int kListenBacklog = 128;
constexpr std::size_t kMaxOpenHandOvers = 64;
constexpr guint kHandOverSecondsToSend = 10;
constexpr char kDoneReply[] = "OK\n";

int g_listenFd = -1;  // the acquired guard: open until the process ends

std::string ErrorText(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

socklen_t MakeAddress(const std::string& name, sockaddr_un& addr) {
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    std::size_t len = std::min(name.size(), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, name.data(), len);  // sun_path[0] = 0: the abstract namespace
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + len);
}

std::string LoginSession() {
    const char* env = std::getenv("XDG_SESSION_ID");
    std::string id = env ? env : "";
    if (id.empty()) {
        std::ifstream in("/proc/self/sessionid");
        std::getline(in, id);
        if (id == "4294967295") id.clear();  // the kernel's "no session"
    }
    std::string safe;
    for (char c : id) {
        if (safe.size() >= 32) break;
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-') safe += c;
    }
    return safe;
}

bool PeerCredentials(int fd, ucred& cred) {
    socklen_t len = sizeof(cred);
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof(cred);
}

// --- The holder's side ---------------------------------------------------------------

struct Incoming {
    int fd = -1;
    guint watch = 0;
    guint timer = 0;
    std::string data;
};

struct Receiver {
    std::function<void(const HandOverEvent&)> handle;
    std::size_t open = 0;
    bool busy = false;
    std::deque<std::pair<HandOverEvent, int>> ready;  // event and the connection to answer (-1: none)
};
Receiver* g_receiver = nullptr;

void CloseIncoming(Incoming* in) {
    if (in->watch) g_source_remove(in->watch);
    if (in->timer) g_source_remove(in->timer);
    if (in->fd >= 0) close(in->fd);
    delete in;
    --g_receiver->open;
}

// Hands the finished events to the receiver one at a time; the receiver may
// turn the main loop itself, so a later event waits for the earlier one.
void Deliver() {
    if (g_receiver->busy) return;
    g_receiver->busy = true;
    while (!g_receiver->ready.empty()) {
        auto [event, answerFd] = std::move(g_receiver->ready.front());
        g_receiver->ready.pop_front();
        g_receiver->handle(event);
        if (answerFd >= 0) {
            send(answerFd, kDoneReply, sizeof(kDoneReply) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            close(answerFd);
        }
    }
    g_receiver->busy = false;
}

gboolean OnIncomingTimeout(gpointer data) {
    auto* in = static_cast<Incoming*>(data);
    in->timer = 0;
    CloseIncoming(in);
    return G_SOURCE_REMOVE;
}

gboolean OnIncomingReadable(gint fd, GIOCondition, gpointer data) {
    auto* in = static_cast<Incoming*>(data);
    char buf[1024];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n > 0) {
            in->data.append(buf, static_cast<std::size_t>(n));
            if (in->data.size() > kMaxHandOverBytes) break;  // not a hand-over: dropped
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return G_SOURCE_CONTINUE;
        if (n == 0 && !in->data.empty()) {
            // Complete: the connection is answered once the receiver is done.
            HandOverEvent event;
            event.fromThisUser = true;
            event.peerUid = static_cast<std::uint32_t>(getuid());
            event.message = std::move(in->data);
            g_receiver->ready.emplace_back(std::move(event), in->fd);
            in->fd = -1;
        }
        break;  // end of stream (an empty one is a start that only looked), or an error
    }
    in->watch = 0;
    CloseIncoming(in);
    Deliver();
    return G_SOURCE_REMOVE;
}

gboolean OnConnectionWaiting(gint listenFd, GIOCondition, gpointer) {
    for (int accepted = 0; accepted < 32; ++accepted) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        ucred cred{};
        if (!PeerCredentials(fd, cred) || cred.uid != getuid()) {
            // Abstract names have no owner: anybody can connect. Only this user's starts count.
            HandOverEvent refused;
            refused.peerUid = static_cast<std::uint32_t>(cred.uid);
            close(fd);
            g_receiver->ready.emplace_back(std::move(refused), -1);
            continue;
        }
        if (g_receiver->open >= kMaxOpenHandOvers) {
            close(fd);
            continue;
        }
        auto* in = new Incoming();
        in->fd = fd;
        ++g_receiver->open;
        in->watch = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &OnIncomingReadable, in);
        in->timer = g_timeout_add_seconds(kHandOverSecondsToSend, &OnIncomingTimeout, in);
    }
    Deliver();
    return G_SOURCE_CONTINUE;
}

// --- The later start's side -------------------------------------------------------------

// Connects to `name`, retrying while the holder is not ready for us; -1 with `error` set otherwise.
int ConnectToHolder(const std::string& name, int& error) {
    sockaddr_un addr;
    socklen_t addrLen = MakeAddress(name, addr);
    auto deadline = Clock::now() + kConnectPatience;
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) == 0) return fd;
        error = errno;
        close(fd);
        bool transient = error == ECONNREFUSED || error == EAGAIN || error == EINTR;
        if (!transient || Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(kConnectRetryPause);
    }
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

}  // namespace

std::string SessionGuardName(const std::string& base) {
    std::string name = base + "-" + std::to_string(getuid());
    std::string session = LoginSession();
    if (!session.empty()) name += "-" + session;
    return name;
}

InstanceGuard::InstanceGuard(std::string name) : name_(std::move(name)) {}

InstanceGuard::~InstanceGuard() {
    if (holderConnection_ >= 0) close(holderConnection_);
}

GuardResult InstanceGuard::Acquire() {
    detail_.clear();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        detail_ = ErrorText("socket", errno);
        return GuardResult::Failed;
    }
    sockaddr_un addr;
    socklen_t addrLen = MakeAddress(name_, addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) == 0) {
        if (listen(fd, kListenBacklog) != 0) {
            // Held, but no later start can reach us: they will start on their own.
            detail_ = ErrorText("listen", errno);
        }
        g_listenFd = fd;  // stays open for the process's life
        return GuardResult::Acquired;
    }
    int bindError = errno;
    close(fd);
    if (bindError != EADDRINUSE) {
        detail_ = ErrorText("bind", bindError);
        return GuardResult::Failed;
    }
    int error = 0;
    int holder = ConnectToHolder(name_, error);
    if (holder < 0) {
        detail_ = "its holder takes no hand-over (" + ErrorText("connect", error) + ")";
        return GuardResult::HeldByStranger;
    }
    ucred cred{};
    if (!PeerCredentials(holder, cred) || cred.uid != getuid()) {
        detail_ = "held by a process of user " + std::to_string(cred.uid);
        close(holder);
        return GuardResult::HeldByStranger;
    }
    detail_ = "held by process " + std::to_string(cred.pid);
    holderConnection_ = holder;
    return GuardResult::AlreadyHeld;
}

HandOverResult InstanceGuard::HandOver(const std::string& message, std::chrono::milliseconds timeout) {
    if (holderConnection_ < 0) {
        detail_ = "no connection to the running instance";
        return HandOverResult::Failed;
    }
    if (message.empty() || message.size() > kMaxHandOverBytes) {
        detail_ = "message of " + std::to_string(message.size()) + " bytes not sent";
        return HandOverResult::Failed;
    }
    auto deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < message.size()) {
        ssize_t n = send(holderConnection_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(holderConnection_, POLLOUT, deadline)) {
            continue;
        } else {
            detail_ = n < 0 ? ErrorText("send", errno) : "send: nothing sent";
            return sent == 0 ? HandOverResult::Failed : HandOverResult::NotAcknowledged;
        }
    }
    shutdown(holderConnection_, SHUT_WR);  // the end of the message
    std::string reply;
    while (reply.size() < 8 && WaitFor(holderConnection_, POLLIN, deadline)) {
        char buf[8];
        ssize_t n = read(holderConnection_, buf, sizeof(buf));
        if (n > 0) reply.append(buf, static_cast<std::size_t>(n));
        else if (n == 0) break;
        else if (errno != EINTR && errno != EAGAIN) break;
        if (reply.find('\n') != std::string::npos) break;
    }
    if (reply == kDoneReply) return HandOverResult::Delivered;
    detail_ = reply.empty() ? "no confirmation" : "unexpected answer";
    return HandOverResult::NotAcknowledged;
}

void ReceiveHandOvers(std::function<void(const HandOverEvent&)> receiver) {
    if (g_listenFd < 0 || g_receiver) return;
    g_receiver = new Receiver();  // lives as long as the guard
    g_receiver->handle = std::move(receiver);
    g_unix_fd_add(g_listenFd, G_IO_IN, &OnConnectionWaiting, nullptr);
}

}  // namespace platform
