// How voice travels between this client and the server: encrypted datagrams
// (UDP) when they get through both ways, the control connection's tunnel when
// they do not, and back again when they do.
//
// The server's CryptSetup gives the key; pings over the datagram path (echoed
// by the server) prove the round trip. Voice goes:
// - Tunnel: through the control connection, while datagrams have never come
//   back (blocked, or the server sent no key). Pings keep asking.
// - Udp: as datagrams only, once a ping came back and while replies keep
//   coming. A ping left unanswered makes the next ones come faster.
// - Both: after datagrams stopped coming back, each packet goes both ways
//   (the listeners keep whichever copy comes first), so that sound flows at
//   once when the path returns, whichever path returns first. After a while
//   without datagrams this settles into Tunnel.
// The server sends a client its voice by the path that client's voice came
// last (anything in the tunnel counts, pings over UDP do not). So once UDP
// has failed for two seconds the pings also go through the connection, or a
// listener that says nothing would be sent datagrams that never arrive; and
// when UDP answers again, one silent loopback voice packet by datagram brings
// the server back to datagrams.
// What the tunnel has not delivered stays bounded: a packet that would queue
// behind more than a few hundred milliseconds of unacknowledged bytes is
// dropped, so a stalled connection never delivers a late backlog.
//
// Thread rule: the thread that made it only (the session thread, which owns
// both sockets); checked in debug builds.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "outside/qm_nim/proto/messages.h"

namespace qmnim::net {
class CryptState;
class UdpLink;
}  // namespace qmnim::net

namespace qmnim::session {

class VoiceTransport {
public:
    using Clock = std::chrono::steady_clock;
    enum class Path { Tunnel, Udp, Both };

    // What the transport asks of the session.
    class Host {
    public:
        virtual void SendControl(proto::MessageType type, const std::string& payload) = 0;
        // Voice through the control connection; false when it was dropped.
        virtual bool SendTunnelled(std::string_view packet) = 0;
        // A voice packet that came as a datagram (decrypted, not yet parsed).
        virtual void DatagramVoice(std::string_view packet) = 0;

    protected:
        ~Host() = default;
    };

    explicit VoiceTransport(Host& host);
    ~VoiceTransport();
    VoiceTransport(const VoiceTransport&) = delete;
    VoiceTransport& operator=(const VoiceTransport&) = delete;

    // A new control connection (its socket); the datagram path waits for the key.
    void Start(int tcpFd, Clock::time_point now);
    // The connection is gone: closes the datagram socket, forgets the key.
    void Stop();

    void OnCryptSetup(std::string_view payload, Clock::time_point now);
    // The server's answer to our control-connection ping: its counts of our datagrams.
    void OnPingReply(const proto::PingMsg& reply, Clock::time_point now);
    // Our control-connection ping, with our counts of the server's datagrams.
    proto::PingMsg MakePing(std::uint64_t timestamp) const;
    // How often the control connection is pinged: seldom while datagrams
    // prove the server alive, often while the connection carries the voice.
    std::chrono::milliseconds PingInterval() const;

    void SendVoice(std::string_view packet, Clock::time_point now);
    // Reads what the datagram socket holds.
    void OnReadable(Clock::time_point now);
    // Pings and path changes that are due; returns when it wants to run again.
    Clock::time_point Tick(Clock::time_point now);

    int fd() const;
    Path path() const { return path_; }
    // When a datagram of the server last got through (epoch when never).
    Clock::time_point lastHeard() const { return lastDatagram_; }
    // The share of voice lost on the way, either way, in percent (0..100),
    // from the server's counts and ours; 0 while voice rides the tunnel.
    int lossPercent() const { return lossPercent_; }

private:
    // Aborts a debug build when called from another thread than the owner's.
    void OnOwnThread(const char* function) const;
    void SendPing(Clock::time_point now);
    void Reclaim();
    void SetPath(Path path, Clock::time_point now);
    void UpdateLoss(std::uint32_t good, std::uint32_t lost, std::uint32_t& lastGood, std::uint32_t& lastLost,
                    double& share);

    Host& host_;
    const std::thread::id owner_ = std::this_thread::get_id();
    std::unique_ptr<net::CryptState> crypt_;
    std::unique_ptr<net::UdpLink> udp_;
    int tcpFd_ = -1;
    Clock::time_point started_{};
    Path path_ = Path::Tunnel;
    bool everConfirmed_ = false;
    bool toldTunnel_ = false;  // something went through the tunnel since the last datagram voice
    Clock::time_point lastPong_{};      // a ping of ours came back
    Clock::time_point lastDatagram_{};  // anything authentic came
    Clock::time_point lostSince_{};     // when Both began
    Clock::time_point nextPing_{};
    Clock::time_point lastResyncAsk_{};
    std::uint32_t failedSinceGood_ = 0;
    std::uint32_t udpSent_ = 0, tcpSent_ = 0;
    // Loss: the server's counts of ours and our counts of its, at the last look.
    std::uint32_t upGood_ = 0, upLost_ = 0, downGood_ = 0, downLost_ = 0;
    double upShare_ = 0, downShare_ = 0;
    int lossPercent_ = 0;
};

}  // namespace qmnim::session
