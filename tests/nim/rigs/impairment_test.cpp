// The network impairment rigs in the test program's private namespace: loss,
// outages and blocked UDP take effect and go with their rules; the relay
// delays, reorders datagrams and counts what a client sends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/value.h>

#include <cstring>

#include "tests/support/process.h"
#include "tests/nim/rigs/hostile_server.h"
#include "tests/nim/rigs/impairment.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A socket of `type` bound to an ephemeral port of 127.0.0.1.
int Bound(int type, int& port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// What arrives on `fd` within `timeout` (one read).
std::string ReadWithin(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return {};
    char buf[2048];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool NothingYet(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

void SendTo(int fd, int port, const std::string& bytes) {
    sockaddr_in to = Loopback(port);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

class Impairment : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Firewall::Available()) GTEST_SKIP() << "no private network namespace with a firewall here";
    }
};

TEST_F(Impairment, LossDropsAboutTheShareAskedAndGoesWithItsRule) {
    int port = 0, ignored = 0;
    int receiver = Bound(SOCK_DGRAM, port);
    int sender = Bound(SOCK_DGRAM, ignored);
    Firewall firewall;
    Firewall::Rule loss = firewall.AddLoss(0.5, port, Firewall::Proto::Udp);
    ASSERT_NE(loss, 0);
    EXPECT_NE(Firewall::Rules().find("--probability 0.5"), std::string::npos) << Firewall::Rules();
    for (int i = 0; i < 400; ++i) SendTo(sender, port, "d" + std::to_string(i));
    std::uint64_t dropped = firewall.Dropped(loss);
    ASSERT_TRUE(firewall.Remove(loss));
    SendTo(sender, port, "end");  // datagrams on loopback keep their order
    int received = 0;
    for (std::string d; (d = ReadWithin(receiver, 10s)) != "end" && !d.empty();) ++received;
    EXPECT_GT(received, 130);
    EXPECT_LT(received, 270);
    EXPECT_EQ(dropped, 400u - static_cast<unsigned>(received));
    EXPECT_EQ(Firewall::Rules().find("qmrig"), std::string::npos) << Firewall::Rules();
    close(receiver);
    close(sender);
}

TEST_F(Impairment, AnOutageHoldsTcpBackAndDropsUdpUntilTheLinkReturns) {
    int port = 0;
    int listener = Bound(SOCK_STREAM, port);
    listen(listener, 4);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = Loopback(port);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    int server = accept(listener, nullptr, nullptr);
    int udpPort = 0, ignored = 0;
    int udpReceiver = Bound(SOCK_DGRAM, udpPort);
    int udpSender = Bound(SOCK_DGRAM, ignored);

    Firewall firewall;
    Firewall::Rule tcpDown = firewall.AddOutage(port, Firewall::Proto::Tcp);
    Firewall::Rule udpDown = firewall.AddOutage(udpPort, Firewall::Proto::Udp);
    ASSERT_NE(tcpDown, 0);
    ASSERT_NE(udpDown, 0);
    ASSERT_EQ(send(client, "during", 6, 0), 6);
    SendTo(udpSender, udpPort, "lost");
    ASSERT_TRUE(WaitUntil([&] { return firewall.Dropped(tcpDown) > 0 && firewall.Dropped(udpDown) > 0; }, 10s));
    EXPECT_TRUE(NothingYet(server));
    EXPECT_TRUE(NothingYet(udpReceiver));

    // The link returns: TCP delivers what waited, UDP what is sent from now on.
    firewall.RemoveAll();
    EXPECT_EQ(ReadWithin(server, 20s), "during");
    SendTo(udpSender, udpPort, "after");
    EXPECT_EQ(ReadWithin(udpReceiver, 10s), "after");
    for (int fd : {listener, client, server, udpReceiver, udpSender}) close(fd);
}

TEST_F(Impairment, BlockingUdpLeavesTcpOnTheSamePort) {
    int port = 0;
    int listener = Bound(SOCK_STREAM, port);
    listen(listener, 4);
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int ignored = 0;
    int sender = Bound(SOCK_DGRAM, ignored);

    Firewall firewall;
    Firewall::Rule block = firewall.BlockUdp(port);
    ASSERT_NE(block, 0);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int server = accept(listener, nullptr, nullptr);
    ASSERT_EQ(send(client, "tcp", 3, 0), 3);
    EXPECT_EQ(ReadWithin(server, 10s), "tcp");
    SendTo(sender, port, "udp");
    ASSERT_TRUE(WaitUntil([&] { return firewall.Dropped(block) > 0; }, 10s));
    EXPECT_TRUE(NothingYet(udp));
    for (int fd : {listener, udp, sender, client, server}) close(fd);
}

TEST_F(Impairment, TheRelayDelaysBothWaysAndReordersDatagramsByJitter) {
    int port = 0;
    int listener = Bound(SOCK_STREAM, port);
    listen(listener, 4);
    int udpEcho = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    ASSERT_EQ(bind(udpEcho, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    DelayRelay relay(port);
    ASSERT_TRUE(relay.Start());
    relay.SetDelay(80ms);

    // TCP: a round trip passes the delay twice.
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in r = Loopback(relay.port());
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&r), sizeof r), 0);
    int server = accept(listener, nullptr, nullptr);
    auto start = Clock::now();
    ASSERT_EQ(send(client, "ping", 4, 0), 4);
    ASSERT_EQ(ReadWithin(server, 10s), "ping");
    ASSERT_EQ(send(server, "pong", 4, 0), 4);
    ASSERT_EQ(ReadWithin(client, 10s), "pong");
    EXPECT_GE(Clock::now() - start, 160ms);

    // UDP: the same, and the server sees one address per client.
    int ignored = 0;
    int udpClient = Bound(SOCK_DGRAM, ignored);
    start = Clock::now();
    SendTo(udpClient, relay.port(), "hello");
    sockaddr_in from{};
    socklen_t len = sizeof from;
    pollfd p{udpEcho, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    char buf[64];
    ssize_t n = recvfrom(udpEcho, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    ASSERT_EQ(std::string(buf, static_cast<size_t>(n)), "hello");
    sendto(udpEcho, "world", 5, 0, reinterpret_cast<sockaddr*>(&from), len);
    EXPECT_EQ(ReadWithin(udpClient, 10s), "world");
    EXPECT_GE(Clock::now() - start, 160ms);
    EXPECT_EQ(relay.Bytes(DelayRelay::Direction::ToServer, true, start, Clock::now()), 5u);
    EXPECT_EQ(relay.Bytes(DelayRelay::Direction::ToServer, false, Clock::time_point{}, Clock::now()), 4u);

    // Jitter lets datagrams overtake each other; none is lost.
    relay.SetDelay(0ms, 100ms);
    for (int i = 0; i < 50; ++i) SendTo(udpClient, relay.port(), std::to_string(i));
    std::vector<int> order;
    for (int i = 0; i < 50; ++i) {
        std::string d = ReadWithin(udpEcho, 10s);
        if (d.empty()) break;
        order.push_back(std::stoi(d));
    }
    ASSERT_EQ(order.size(), 50u);
    EXPECT_FALSE(std::is_sorted(order.begin(), order.end()));
    for (int fd : {listener, udpEcho, client, server, udpClient}) close(fd);
}

TEST_F(Impairment, TheRelayMeasuresWhatTheModuleSends) {
    HostileVoiceServer server;
    ASSERT_TRUE(server.Start());
    server.AddChannel(2, 0, "hall");
    DelayRelay relay(server.port());
    ASSERT_TRUE(relay.Start());
    relay.SetDelay(20ms, 10ms);
    PulseServer pulse;
    ASSERT_TRUE(pulse.Start()) << pulse.Log();
    VoicePeer peer("peer", pulse.address(), "[voice]\nhost=" + relay.host() + "\nfingerprint=" + server.fingerprint() + "\n");
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(peer.Login("gil", "pw")) << peer.Stderr();
    Json::Value joined;
    Json::Reader().parse(peer.Join("hall"), joined);
    ASSERT_EQ(joined["res"].asInt(), 200);
    TonePlayer tone(pulse.address(), "micfeed", 440);
    ASSERT_TRUE(peer.Do("mic - 0"));
    // Voice only (the module's datagram pings come through the tunnel too).
    auto isVoice = [](const HostileVoiceServer::Received& r) {
        voicewire::Voice v;
        return voicewire::ParseClientVoice(r.payload, v);
    };
    auto first = server.WaitFor(voicewire::kUDPTunnel, 20s, isVoice);
    ASSERT_TRUE(first);
    auto second = server.WaitFor(voicewire::kUDPTunnel, 10s, isVoice, first->at + 2s);
    ASSERT_TRUE(second);
    // Voice rides the TCP tunnel today: about 2 s of it, seen by the relay (with framing and TLS) and the server.
    EXPECT_GT(relay.Bytes(DelayRelay::Direction::ToServer, false, first->at - 100ms, second->at - 100ms), 4000u);
    EXPECT_GT(server.VoiceBytes(first->at, second->at), 4000u);
}

}  // namespace
}  // namespace qmtest
