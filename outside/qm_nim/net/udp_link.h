// The datagram socket of the voice path: UDP towards the address the control
// connection reached, connected, so that only that address's datagrams come
// in. Sends and reads never block; a datagram the socket cannot take now is
// dropped (voice late is voice lost). Used by the session thread only.
#pragma once

#include <string>
#include <string_view>

namespace qmnim::net {

class UdpLink {
public:
    // Larger datagrams are not voice of this protocol: read and dropped.
    static constexpr size_t kMaxDatagram = 1500;

    UdpLink() = default;
    ~UdpLink();
    UdpLink(const UdpLink&) = delete;
    UdpLink& operator=(const UdpLink&) = delete;

    // A socket towards the peer of the connected TCP socket `tcpFd`.
    bool Open(int tcpFd, std::string& error);
    void Close();
    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // False when the datagram did not leave (full buffer, no route, refused).
    bool Send(std::string_view datagram);
    // The next datagram waiting; false when none is.
    bool Receive(std::string& datagram);

private:
    int fd_ = -1;
};

}  // namespace qmnim::net
