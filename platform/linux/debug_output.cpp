#include "platform/debug_output.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <optional>

#include "platform/text.h"

namespace platform {
namespace {

enum class Sink {
    Plain,     // a file or a device that never blocks: written as it is
    Reopened,  // a pipe or terminal: written through a non-blocking description of our own
    Socket,    // sent without waiting
    Polled,    // a pipe or terminal that could not be reopened: written only when there is room
    None,      // nothing (a pipe without reader, or no standard error at all)
};

struct Target {
    Sink sink = Sink::None;
    int fd = -1;
    bool pipe = false;  // a reader that is gone raises SIGPIPE
};

// Standard error is shared with the parent: its description's O_NONBLOCK flag
// is not ours to change. A pipe or terminal opened again through /proc gets a
// description of its own, whose flag is.
Target Classify() {
    Target t;
    struct stat st{};
    if (fstat(STDERR_FILENO, &st) != 0) return t;
    t.fd = STDERR_FILENO;
    if (S_ISSOCK(st.st_mode)) {
        t.sink = Sink::Socket;
    } else if (S_ISFIFO(st.st_mode) || isatty(STDERR_FILENO)) {
        t.pipe = S_ISFIFO(st.st_mode);
        int fd = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            t.fd = fd;
            t.sink = Sink::Reopened;
        } else {
            t.sink = errno == ENXIO ? Sink::None : Sink::Polled;  // ENXIO: a FIFO nobody reads
        }
    } else {
        t.sink = Sink::Plain;
    }
    return t;
}

const Target& CurrentTarget() {
    static const Target target = Classify();
    return target;
}

// A pipe whose reader is gone raises SIGPIPE: it is held back for this write
// and taken away again unless it was already pending before.
class QuietPipe {
public:
    QuietPipe() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE);
    }
    ~QuietPipe() {
        if (!wasPending_) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            timespec none{};
            while (sigtimedwait(&pipeOnly, nullptr, &none) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

private:
    sigset_t previous_;
    bool wasPending_ = false;
};

ssize_t WriteSome(const Target& t, const char* p, size_t n) {
    switch (t.sink) {
        case Sink::Socket:
            return send(t.fd, p, n, MSG_DONTWAIT | MSG_NOSIGNAL);
        case Sink::Polled: {
            pollfd pfd{t.fd, POLLOUT, 0};
            if (poll(&pfd, 1, 0) != 1 || !(pfd.revents & POLLOUT)) {
                errno = EAGAIN;
                return -1;
            }
            // Room for PIPE_BUF bytes is what POLLOUT promises.
            return write(t.fd, p, n < PIPE_BUF ? n : PIPE_BUF);
        }
        default:
            return write(t.fd, p, n);
    }
}

}  // namespace

void WriteStandardError(const std::string& utf8) {
    const Target& t = CurrentTarget();
    if (t.sink == Sink::None) return;
    std::string line = utf8;
    if (line.empty() || line.back() != '\n') line += '\n';
    // One line at a time, so that lines of several threads do not mix.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::optional<QuietPipe> quiet;
    if (t.pipe) quiet.emplace();
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = WriteSome(t, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // full (EAGAIN), gone (EPIPE) or failing: the rest is dropped
        }
    }
}

void OutputDebugStringW(const std::wstring& text) { WriteStandardError(WideToUtf8(text)); }
void OutputDebugStringA(const std::string& text) { WriteStandardError(AnsiToUtf8(text)); }

namespace {

GLogWriterOutput WriteLibraryMessage(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
    const char* domain = nullptr;
    for (gsize i = 0; i < count; ++i)
        if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) domain = static_cast<const char*>(fields[i].value);
    // Debug and info messages stay off unless G_MESSAGES_DEBUG asks for them, as by default.
    if (g_log_writer_default_would_drop(level, domain)) return G_LOG_WRITER_HANDLED;
    gchar* text = g_log_writer_format_fields(level, fields, count, FALSE);
    WriteStandardError(text ? text : "");
    g_free(text);
    return G_LOG_WRITER_HANDLED;
}

void WritePrinted(const gchar* text) { WriteStandardError(text ? text : ""); }

}  // namespace

void RouteLibraryMessagesToDebugOutput() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_writer_func(&WriteLibraryMessage, nullptr, nullptr);
        g_set_printerr_handler(&WritePrinted);
    });
}

}  // namespace platform
