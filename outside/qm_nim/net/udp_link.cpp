#include "outside/qm_nim/net/udp_link.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qmnim::net {

UdpLink::~UdpLink() { Close(); }

void UdpLink::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool UdpLink::Open(int tcpFd, std::string& error) {
    Close();
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(tcpFd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        error = std::string("no peer address: ") + std::strerror(errno);
        return false;
    }
    int fd = ::socket(peer.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        error = std::string("no datagram socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), length) != 0) {
        error = std::string("datagram socket does not connect: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool UdpLink::Send(std::string_view datagram) {
    if (fd_ < 0) return false;
    for (;;) {
        ssize_t n = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<size_t>(n) == datagram.size();
        if (errno != EINTR) return false;  // EAGAIN, ECONNREFUSED (an earlier one bounced), ...
    }
}

bool UdpLink::Receive(std::string& datagram) {
    if (fd_ < 0) return false;
    char buffer[kMaxDatagram + 1];
    for (int attempts = 0; attempts < 64; ++attempts) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR || errno == ECONNREFUSED) continue;  // a bounce of ours is no datagram
            return false;
        }
        if (static_cast<size_t>(n) > kMaxDatagram) continue;
        datagram.assign(buffer, static_cast<size_t>(n));
        return true;
    }
    return false;
}

}  // namespace qmnim::net
