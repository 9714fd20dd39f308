// A bad network on loopback for the voice tests (this kernel has no netem):
// packet loss, outages and blocked UDP through firewall rules in the test
// program's private network namespace, and delay with jitter through a relay
// of our own that forwards TCP and UDP with a per-packet delay.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qmtest {

// Rules in the OUTPUT chain of the private namespace's firewall (loopback
// traffic passes it once per packet). Each rule carries a comment of its own;
// the destructor removes every rule it added. Refuses to work outside a
// private namespace: the machine's own firewall is never touched.
class Firewall {
public:
    enum class Proto { Any, Tcp, Udp };
    using Rule = int;

    Firewall() = default;
    ~Firewall();
    Firewall(const Firewall&) = delete;
    Firewall& operator=(const Firewall&) = delete;

    // Whether rules can be set here (a private namespace, iptables-legacy works).
    static bool Available();

    // Drops each packet to or from 127.0.0.1:`port` (0: any port) of `proto`
    // with probability `p`; 0 on failure.
    Rule AddLoss(double p, int port = 0, Proto proto = Proto::Any);
    // Drops every such packet: an outage until the rule goes (a link flap
    // when it goes soon).
    Rule AddOutage(int port = 0, Proto proto = Proto::Any);
    // Drops UDP to and from `port` only (voice has to take the TCP tunnel).
    Rule BlockUdp(int port) { return AddOutage(port, Proto::Udp); }
    bool Remove(Rule rule);
    void RemoveAll();
    // Packets the rule dropped so far.
    std::uint64_t Dropped(Rule rule) const;
    // The chain as iptables lists it (-S), for checks and failure messages.
    static std::string Rules();

private:
    struct Entry {
        Rule id;
        std::vector<std::vector<std::string>> rules;  // one per direction
    };
    Rule Add(const std::string& kind, double p, int port, Proto proto);
    std::vector<Entry> rules_;
    static int next_;
};

// Forwards TCP connections and UDP datagrams arriving on its port (the same
// number for both) to 127.0.0.1:`target`, each direction delayed by `base`
// plus a uniform random share of `jitter` per packet. TCP keeps its order (a
// chunk never overtakes the one before it); UDP datagrams may overtake each
// other, as on a real path. Counts what passes.
class DelayRelay {
public:
    using Clock = std::chrono::steady_clock;
    enum class Direction { ToServer, ToClient };

    explicit DelayRelay(int target);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    bool Start();
    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    void SetDelay(std::chrono::milliseconds base, std::chrono::milliseconds jitter = std::chrono::milliseconds(0));
    // Bytes (payloads) that passed within [from, to): UDP or TCP (`udp`) in one direction.
    std::uint64_t Bytes(Direction direction, bool udp, Clock::time_point from, Clock::time_point to) const;
    std::uint64_t Datagrams(Direction direction) const;

private:
    struct State;
    void Run();
    std::unique_ptr<State> state_;
    int target_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace qmtest
