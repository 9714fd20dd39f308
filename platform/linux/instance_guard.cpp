#include "platform/instance_guard.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstddef>
#include <cstring>

namespace platform {

// An abstract-namespace Unix socket stands for the named event: bound by the
// first instance and freed by the kernel when that process ends.
GuardResult AcquireInstanceGuard(const std::string& name) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return GuardResult::Failed;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    size_t len = std::min(name.size(), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, name.data(), len);  // sun_path[0] = 0: abstract
    socklen_t addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + len);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) == 0) {
        return GuardResult::Acquired;  // the descriptor stays open for the process's life
    }
    int err = errno;
    close(fd);
    return err == EADDRINUSE ? GuardResult::AlreadyHeld : GuardResult::Failed;
}

}  // namespace platform
