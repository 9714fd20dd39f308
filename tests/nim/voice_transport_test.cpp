// The voice path's choices on a clock of the test's own: a stand-in server
// on loopback (a TCP listener for the address, a UDP socket with a crypt
// state of its own) answers or ignores the client's datagram pings, and the
// transport must pick the path, fall back, send both ways, come back, ask
// for the server's nonce when its datagrams stop opening, answer a request
// for its own, and report the loss the server counts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "outside/qm_nim/net/crypt_state.h"
#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "outside/qm_nim/session/voice_transport.h"

namespace qmnim {
namespace {

using namespace std::chrono_literals;
using session::VoiceTransport;
using Path = VoiceTransport::Path;
using Clock = VoiceTransport::Clock;

class RecordingHost : public VoiceTransport::Host {
public:
    void SendControl(proto::MessageType type, const std::string& payload) override {
        control.push_back({type, payload});
    }
    bool SendTunnelled(std::string_view packet) override {
        tunnelled.emplace_back(packet);
        return true;
    }
    void DatagramVoice(std::string_view packet) override { voice.emplace_back(packet); }
    std::vector<std::pair<proto::MessageType, std::string>> control;
    std::vector<std::string> tunnelled, voice;
};

// The server's side: its address (a TCP listener the client "connects" to)
// and its datagram socket on the same port.
class StandInServer {
public:
    StandInServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        listen(listener_, 1);
        udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        bind(udp_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        tcp_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(tcp_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        crypt.SetKey(key, serverNonce, clientNonce);
    }
    ~StandInServer() {
        for (int fd : {listener_, udp_, tcp_}) close(fd);
    }
    int clientTcp() const { return tcp_; }
    std::string CryptSetup() const {
        proto::CryptSetupMsg m;
        m.key = key;
        m.clientNonce = clientNonce;
        m.serverNonce = serverNonce;
        return m.Encode();
    }
    // The next datagram from the client, opened; empty when none came in time.
    std::string Receive(std::chrono::milliseconds timeout = 2000ms) {
        pollfd p{udp_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return {};
        char buf[2048];
        socklen_t len = sizeof from_;
        ssize_t n = recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from_), &len);
        std::string plain;
        if (n <= 0 || !crypt.Decrypt(std::string_view(buf, static_cast<size_t>(n)), plain)) return {};
        return plain;
    }
    // Whatever is waiting, opened (pings and voice alike).
    std::vector<std::string> Drain() {
        std::vector<std::string> all;
        for (std::string d; !(d = Receive(50ms)).empty();) all.push_back(d);
        return all;
    }
    void Send(const std::string& plain) {
        std::string sealed;
        crypt.Encrypt(plain, sealed);
        SendRaw(sealed);
    }
    void SendRaw(const std::string& bytes) {
        sendto(udp_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from_), sizeof from_);
    }

    const std::string key = std::string(16, 'k'), clientNonce = std::string(16, 'c'),
                      serverNonce = std::string(16, 's');
    net::CryptState crypt;

private:
    int listener_ = -1, udp_ = -1, tcp_ = -1;
    sockaddr_in from_{};
};

// Waits (bounded) until the transport's socket has something and reads it.
void ReadAll(VoiceTransport& t, Clock::time_point now) {
    pollfd p{t.fd(), POLLIN, 0};
    if (poll(&p, 1, 2000) == 1) t.OnReadable(now);
}

bool IsPing(const std::string& plain) {
    std::uint64_t ts;
    return proto::ParseUdpPing(plain, ts);
}

TEST(VoiceTransport, ProvesTheDatagramPathFallsBackSendsBothWaysAndReturns) {
    StandInServer server;
    RecordingHost host;
    VoiceTransport t(host);
    auto now = Clock::now();
    t.Start(server.clientTcp(), now);
    // Before the key: the connection only.
    t.SendVoice("v0", now);
    ASSERT_EQ(host.tunnelled.size(), 1u);
    EXPECT_EQ(t.fd(), -1);

    t.OnCryptSetup(server.CryptSetup(), now);
    ASSERT_GE(t.fd(), 0);
    t.Tick(now);
    std::string ping = server.Receive();
    ASSERT_TRUE(IsPing(ping)) << "no ping by datagram";
    EXPECT_EQ(t.path(), Path::Tunnel) << "no reply yet";
    // Anything in the tunnel keeps a server sending by the connection: the
    // pings go there only once datagrams have had two seconds to answer.
    EXPECT_EQ(host.tunnelled.size(), 1u);
    t.Tick(now + 2500ms);
    ASSERT_EQ(host.tunnelled.size(), 2u);
    EXPECT_TRUE(IsPing(host.tunnelled.back()));
    server.Drain();
    server.Send(ping);  // the server echoes it
    ReadAll(t, now + 2500ms);
    EXPECT_EQ(t.path(), Path::Udp);
    // ... and so, told to use the connection, it is told to come back: a
    // silent packet to its loopback target, by datagram.
    std::string mark = server.Receive();
    proto::ReceivedVoice loop;
    ASSERT_TRUE(proto::ParseClientVoice(mark, loop)) << "no loopback mark";
    EXPECT_EQ(loop.target, proto::kTargetLoopback);
    EXPECT_TRUE(loop.opus.empty());
    EXPECT_TRUE(loop.last);
    const auto base = now + 2500ms;  // the last reply

    // Voice now goes by datagram only.
    size_t tunnelled = host.tunnelled.size();
    t.SendVoice("v1", now);
    EXPECT_EQ(server.Receive(), "v1");
    EXPECT_EQ(host.tunnelled.size(), tunnelled);
    // The server's voice comes in and is handed on.
    server.Send("voice from the server");
    ReadAll(t, now);
    ASSERT_EQ(host.voice.size(), 1u);
    EXPECT_EQ(host.voice[0], "voice from the server");

    // Replies stop: pings come faster, then the path is taken for lost and
    // each packet goes both ways.
    auto late = base + 3s;
    t.Tick(late);
    EXPECT_EQ(t.path(), Path::Udp);
    auto next = t.Tick(late);
    EXPECT_LE(next - late, 500ms) << "a missing reply makes the next ping come sooner";
    auto lost = base + 4500ms;
    t.Tick(lost);
    EXPECT_EQ(t.path(), Path::Both);
    server.Drain();
    tunnelled = host.tunnelled.size();
    t.SendVoice("v2", lost);
    EXPECT_EQ(server.Drain(), std::vector<std::string>{"v2"});
    ASSERT_GT(host.tunnelled.size(), tunnelled);
    EXPECT_EQ(host.tunnelled.back(), "v2");

    // A reply again: back to datagrams alone. (So short a loss is not told
    // to the server: its pings do not go through the connection yet.)
    tunnelled = host.tunnelled.size();
    t.Tick(lost + 600ms);
    EXPECT_EQ(host.tunnelled.size(), tunnelled);
    std::string again;
    for (const std::string& d : server.Drain())
        if (IsPing(d)) again = d;
    ASSERT_FALSE(again.empty());
    server.Send(again);
    ReadAll(t, lost + 700ms);
    EXPECT_EQ(t.path(), Path::Udp);
    // (v2 went through the connection too: the server is called back.)
    ASSERT_TRUE(proto::ParseClientVoice(server.Receive(), loop)) << "no loopback mark";
    EXPECT_EQ(loop.target, proto::kTargetLoopback);
    tunnelled = host.tunnelled.size();
    t.SendVoice("v3", lost + 700ms);
    EXPECT_EQ(server.Receive(), "v3");
    EXPECT_EQ(host.tunnelled.size(), tunnelled);

    // Lost for a while, the server is told to use the connection; lost long
    // enough, the connection alone carries voice.
    t.Tick(lost + 6s);
    ASSERT_EQ(t.path(), Path::Both);
    tunnelled = host.tunnelled.size();
    t.Tick(lost + 8500ms);
    ASSERT_GT(host.tunnelled.size(), tunnelled);
    EXPECT_TRUE(IsPing(host.tunnelled.back()));
    t.Tick(lost + 6s + 21s);
    EXPECT_EQ(t.path(), Path::Tunnel);
    server.Drain();
    t.SendVoice("v4", lost + 28s);
    for (const std::string& d : server.Drain()) EXPECT_TRUE(IsPing(d)) << "voice went by datagram: " << d;
    EXPECT_EQ(host.tunnelled.back(), "v4");
}

TEST(VoiceTransport, KeepsItsNoncesInStepWithTheServer) {
    StandInServer server;
    RecordingHost host;
    VoiceTransport t(host);
    auto now = Clock::now();
    t.Start(server.clientTcp(), now);
    t.OnCryptSetup(server.CryptSetup(), now);
    t.Tick(now);
    std::string ping = server.Receive();
    server.Send(ping);
    ReadAll(t, now);
    ASSERT_EQ(t.path(), Path::Udp);

    // The server asks for our nonce (an empty CryptSetup): we tell it.
    t.OnCryptSetup(proto::CryptSetupMsg().Encode(), now);
    ASSERT_EQ(host.control.size(), 1u);
    proto::CryptSetupMsg answer;
    ASSERT_TRUE(answer.Decode(host.control[0].second));
    ASSERT_TRUE(answer.clientNonce);
    EXPECT_FALSE(answer.key || answer.serverNonce);
    // The server takes it as where our datagrams stand: the next one opens.
    ASSERT_TRUE(server.crypt.SetDecryptNonce(*answer.clientNonce));
    t.SendVoice("after", now);
    EXPECT_EQ(server.Receive(), "after");

    // The server's datagrams stop opening (its nonce moved on without us):
    // after a couple of seconds of failures we ask for its nonce, once.
    host.control.clear();
    for (int i = 0; i < 300; ++i) {
        std::string sealed;
        server.crypt.Encrypt("skipped", sealed);
    }
    auto later = Clock::now() + 3s;
    for (int i = 0; i < 5; ++i) server.Send("unreadable");
    ReadAll(t, later);
    ASSERT_EQ(host.control.size(), 1u);
    EXPECT_EQ(host.control[0].first, proto::MessageType::CryptSetup);
    EXPECT_TRUE(host.control[0].second.empty()) << "the request carries nothing";
    for (int i = 0; i < 5; ++i) server.Send("unreadable");
    ReadAll(t, later + 1s);
    EXPECT_EQ(host.control.size(), 1u) << "asked again too soon";
    // The server's answer: its nonce. Its datagrams open again.
    proto::CryptSetupMsg resync;
    resync.serverNonce = server.crypt.encryptNonce();
    t.OnCryptSetup(resync.Encode(), later + 1s);
    server.Send("readable");
    ReadAll(t, later + 1s);
    ASSERT_FALSE(host.voice.empty());
    EXPECT_EQ(host.voice.back(), "readable");
    EXPECT_EQ(t.MakePing(1).resync.value_or(0), 1u);
}

TEST(VoiceTransport, ReportsTheLossTheServerCountsAndNoneThroughTheConnection) {
    StandInServer server;
    RecordingHost host;
    VoiceTransport t(host);
    auto now = Clock::now();
    t.Start(server.clientTcp(), now);
    t.OnCryptSetup(server.CryptSetup(), now);
    t.Tick(now);
    server.Send(server.Receive());
    ReadAll(t, now);
    ASSERT_EQ(t.path(), Path::Udp);
    proto::PingMsg reply;
    reply.good = 100;
    reply.lost = 0;
    t.OnPingReply(reply, now);
    EXPECT_EQ(t.lossPercent(), 0);
    reply.good = 190;  // 10 of the next 100 lost
    reply.lost = 10;
    t.OnPingReply(reply, now);
    EXPECT_GT(t.lossPercent(), 3);
    EXPECT_LE(t.lossPercent(), 10);
    reply.good = 290;  // none of the next 100
    reply.lost = 10;
    t.OnPingReply(reply, now);
    int easing = t.lossPercent();
    EXPECT_LT(easing, 5);
    // A reconnected server counts from 0 again: no bogus figure.
    reply.good = 5;
    reply.lost = 0;
    t.OnPingReply(reply, now);
    EXPECT_LE(t.lossPercent(), easing);
    // The connection loses nothing.
    t.Tick(now + 5s);
    t.Tick(now + 5s + 21s);
    ASSERT_EQ(t.path(), Path::Tunnel);
    EXPECT_EQ(t.lossPercent(), 0);
    EXPECT_EQ(t.PingInterval(), std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace qmnim
