#include "tests/nim/rigs/impairment.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

#include "tests/support/network.h"
#include "tests/support/process.h"

namespace qmtest {

using namespace std::chrono_literals;

// --- firewall ---------------------------------------------------------------------------------

namespace {

constexpr const char kIptables[] = "/usr/sbin/iptables-legacy";

// The xtables lock is one for the whole machine: wait for it rather than fail.
int Iptables(std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), {kIptables, "-w", "10"});
    return RunProcess(args, 30s, {}, output);
}

std::string Tag(int id) { return "qmrig" + std::to_string(id); }

}  // namespace

int Firewall::next_ = 1;

Firewall::~Firewall() { RemoveAll(); }

bool Firewall::Available() {
    static const bool available = InPrivateNetwork() && Iptables({"-S", "OUTPUT"}) == 0;
    return available;
}

Firewall::Rule Firewall::Add(const std::string& kind, double p, int port, Proto proto) {
    if (!Available()) return 0;
    Entry entry{next_++, {}};
    std::vector<std::string> protos;
    if (proto == Proto::Tcp || (proto == Proto::Any && port)) protos.push_back("tcp");
    if (proto == Proto::Udp || (proto == Proto::Any && port)) protos.push_back("udp");
    if (protos.empty()) protos.push_back("");
    for (const std::string& pr : protos) {
        for (const char* side : {"--dport", "--sport"}) {
            std::vector<std::string> rule = {"-o", "lo"};
            if (!pr.empty()) rule.insert(rule.end(), {"-p", pr});
            if (port) rule.insert(rule.end(), {side, std::to_string(port)});
            if (kind == "loss") {
                char probability[32];
                std::snprintf(probability, sizeof probability, "%.6f", p);
                rule.insert(rule.end(), {"-m", "statistic", "--mode", "random", "--probability", probability});
            }
            rule.insert(rule.end(), {"-m", "comment", "--comment", Tag(entry.id), "-j", "DROP"});
            entry.rules.push_back(rule);
            if (!port) break;  // one rule covers both directions
        }
    }
    for (const auto& rule : entry.rules) {
        // An outage goes first, so that it wins over anything else in the chain.
        std::vector<std::string> args = kind == "loss" ? std::vector<std::string>{"-A", "OUTPUT"}
                                                       : std::vector<std::string>{"-I", "OUTPUT", "1"};
        args.insert(args.end(), rule.begin(), rule.end());
        if (Iptables(args) != 0) {
            rules_.push_back(entry);
            Remove(entry.id);
            return 0;
        }
    }
    rules_.push_back(entry);
    return entry.id;
}

Firewall::Rule Firewall::AddLoss(double p, int port, Proto proto) { return Add("loss", p, port, proto); }
Firewall::Rule Firewall::AddOutage(int port, Proto proto) { return Add("outage", 1, port, proto); }

bool Firewall::Remove(Rule rule) {
    auto it = std::find_if(rules_.begin(), rules_.end(), [&](const Entry& e) { return e.id == rule; });
    if (it == rules_.end()) return false;
    bool ok = true;
    for (const auto& rule : it->rules) {
        std::vector<std::string> args = {"-D", "OUTPUT"};
        args.insert(args.end(), rule.begin(), rule.end());
        ok = Iptables(args) == 0 && ok;
    }
    rules_.erase(it);
    return ok;
}

void Firewall::RemoveAll() {
    while (!rules_.empty()) Remove(rules_.back().id);
}

std::uint64_t Firewall::Dropped(Rule rule) const {
    std::string listing;
    if (Iptables({"-L", "OUTPUT", "-v", "-x", "-n"}, &listing) != 0) return 0;
    std::uint64_t total = 0;
    std::istringstream lines(listing);
    std::string line, tag = "/* " + Tag(rule) + " */";
    while (std::getline(lines, line)) {
        if (line.find(tag) != std::string::npos) total += std::strtoull(line.c_str(), nullptr, 10);
    }
    return total;
}

std::string Firewall::Rules() {
    std::string out;
    Iptables({"-S", "OUTPUT"}, &out);
    return out;
}

// --- delay relay -------------------------------------------------------------------------------

struct DelayRelay::State {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;  // empty: the sender closed; pass the end on
    };
    struct Pipe {
        int client = -1, server = -1;
        std::deque<Chunk> toServer, toClient;
        size_t sentToServer = 0, sentToClient = 0;  // of the front chunk
        bool clientEof = false, serverEof = false;   // read to the end
        int endsPassed = 0;                          // ends passed on; both: the pair is done
        bool done = false;
    };
    struct Datagram {
        Clock::time_point due;
        int fd;  // the socket to send it from
        sockaddr_in to;
        std::string bytes;
    };

    mutable std::mutex lock;
    std::chrono::milliseconds base{0}, jitter{0};
    std::vector<std::tuple<Clock::time_point, Direction, bool, size_t>> passed;
    std::uint64_t datagrams[2] = {0, 0};

    int listenFd = -1, udpFd = -1, wakeFd = -1;
    bool stop = false;
    std::vector<std::unique_ptr<Pipe>> pipes;
    std::map<std::string, int> upstream;           // client address -> its socket to the server
    std::map<int, sockaddr_in> clientOfUpstream;  // and back
    std::vector<Datagram> datagramsDue;
    std::mt19937 random{20240611};  // the same jitter every run

    Clock::duration Delay() {
        std::lock_guard<std::mutex> l(lock);
        auto d = Clock::duration(base);
        if (jitter.count() > 0)
            d += std::chrono::microseconds(std::uniform_int_distribution<long>(0, jitter.count() * 1000)(random));
        return d;
    }
    void Count(Direction dir, bool udp, size_t bytes) {
        std::lock_guard<std::mutex> l(lock);
        passed.emplace_back(Clock::now(), dir, udp, bytes);
        if (udp) ++datagrams[dir == Direction::ToServer ? 0 : 1];
    }
};

namespace {

int Nonblocking(int fd) {
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::string Key(const sockaddr_in& a) { return std::to_string(a.sin_addr.s_addr) + ":" + std::to_string(a.sin_port); }

}  // namespace

DelayRelay::DelayRelay(int target) : state_(std::make_unique<State>()), target_(target) {}

DelayRelay::~DelayRelay() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> l(state_->lock);
            state_->stop = true;
        }
        std::uint64_t one = 1;
        (void)!::write(state_->wakeFd, &one, sizeof one);
        thread_.join();
    }
    for (auto& p : state_->pipes) {
        if (p->client >= 0) ::close(p->client);
        if (p->server >= 0) ::close(p->server);
    }
    for (auto& [key, fd] : state_->upstream) ::close(fd);
    for (int fd : {state_->listenFd, state_->udpFd, state_->wakeFd})
        if (fd >= 0) ::close(fd);
}

bool DelayRelay::Start() {
    State& s = *state_;
    // TCP and UDP on one port number, as the voice protocol expects.
    for (int attempt = 0; attempt < 20 && s.udpFd < 0; ++attempt) {
        if (s.listenFd >= 0) ::close(s.listenFd);
        s.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        if (::bind(s.listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s.listenFd, 16) != 0 ||
            ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return false;
        int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            s.udpFd = udp;
            port_ = ntohs(a.sin_port);
        } else {
            ::close(udp);
        }
    }
    if (s.udpFd < 0) return false;
    Nonblocking(s.listenFd);
    Nonblocking(s.udpFd);
    s.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void DelayRelay::SetDelay(std::chrono::milliseconds base, std::chrono::milliseconds jitter) {
    std::lock_guard<std::mutex> l(state_->lock);
    state_->base = base;
    state_->jitter = jitter;
}

std::uint64_t DelayRelay::Bytes(Direction direction, bool udp, Clock::time_point from, Clock::time_point to) const {
    std::lock_guard<std::mutex> l(state_->lock);
    std::uint64_t total = 0;
    for (const auto& [at, dir, isUdp, bytes] : state_->passed)
        if (dir == direction && isUdp == udp && at >= from && at < to) total += bytes;
    return total;
}

std::uint64_t DelayRelay::Datagrams(Direction direction) const {
    std::lock_guard<std::mutex> l(state_->lock);
    return state_->datagrams[direction == Direction::ToServer ? 0 : 1];
}

void DelayRelay::Run() {
    State& s = *state_;
    char buf[65536];
    for (;;) {
        {
            std::lock_guard<std::mutex> l(s.lock);
            if (s.stop) return;
        }
        auto now = Clock::now();

        // Deliver what is due.
        for (auto& p : s.pipes) {
            auto send = [&](std::deque<State::Chunk>& queue, size_t& sent, int fd) {
                while (!queue.empty() && queue.front().due <= now && !p->done) {
                    State::Chunk& c = queue.front();
                    if (c.bytes.empty()) {  // the other side closed: pass the end on
                        ::shutdown(fd, SHUT_WR);
                        p->done = ++p->endsPassed == 2;
                        queue.pop_front();
                        continue;
                    }
                    ssize_t n = ::send(fd, c.bytes.data() + sent, c.bytes.size() - sent, MSG_NOSIGNAL);
                    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
                    if (n <= 0) {
                        p->done = true;
                        break;
                    }
                    sent += static_cast<size_t>(n);
                    if (sent == c.bytes.size()) {
                        sent = 0;
                        queue.pop_front();
                    }
                }
            };
            send(p->toServer, p->sentToServer, p->server);
            send(p->toClient, p->sentToClient, p->client);
        }
        std::sort(s.datagramsDue.begin(), s.datagramsDue.end(),
                  [](const State::Datagram& a, const State::Datagram& b) { return a.due < b.due; });
        size_t sentDatagrams = 0;
        for (; sentDatagrams < s.datagramsDue.size() && s.datagramsDue[sentDatagrams].due <= now; ++sentDatagrams) {
            const State::Datagram& d = s.datagramsDue[sentDatagrams];
            if (d.fd == s.udpFd)
                ::sendto(d.fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&d.to), sizeof d.to);
            else
                ::send(d.fd, d.bytes.data(), d.bytes.size(), 0);
        }
        s.datagramsDue.erase(s.datagramsDue.begin(), s.datagramsDue.begin() + static_cast<long>(sentDatagrams));
        for (auto& p : s.pipes) {
            if (p->done) {
                ::close(p->client);
                ::close(p->server);
                p->client = p->server = -1;
            }
        }
        s.pipes.erase(std::remove_if(s.pipes.begin(), s.pipes.end(), [](const auto& p) { return p->client < 0; }),
                      s.pipes.end());

        // Sleep until something arrives or the next delivery is due.
        Clock::time_point next = now + 1s;
        for (auto& p : s.pipes) {
            if (!p->toServer.empty()) next = std::min(next, p->toServer.front().due);
            if (!p->toClient.empty()) next = std::min(next, p->toClient.front().due);
        }
        for (const auto& d : s.datagramsDue) next = std::min(next, d.due);
        std::vector<pollfd> fds = {{s.wakeFd, POLLIN, 0}, {s.listenFd, POLLIN, 0}, {s.udpFd, POLLIN, 0}};
        for (auto& p : s.pipes) {
            short wantServer = p->toServer.empty() ? 0 : POLLOUT, wantClient = p->toClient.empty() ? 0 : POLLOUT;
            fds.push_back({p->client, static_cast<short>((p->clientEof ? 0 : POLLIN) | wantClient), 0});
            fds.push_back({p->server, static_cast<short>((p->serverEof ? 0 : POLLIN) | wantServer), 0});
        }
        for (const auto& [fd, client] : s.clientOfUpstream) fds.push_back({fd, POLLIN, 0});
        const size_t polledPipes = s.pipes.size();  // a pair accepted below was not polled
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait) + 1));
        now = Clock::now();

        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(s.wakeFd, &count, sizeof count);
        }
        if (fds[1].revents & POLLIN) {
            int client = ::accept4(s.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in to = Loopback(target_);
                if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
                    auto p = std::make_unique<State::Pipe>();
                    p->client = Nonblocking(client);
                    p->server = Nonblocking(server);
                    s.pipes.push_back(std::move(p));
                } else {
                    ::close(server);
                    ::close(client);
                }
            }
        }
        if (fds[2].revents & POLLIN) {
            for (;;) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = ::recvfrom(s.udpFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n < 0) break;
                auto up = s.upstream.find(Key(from));
                if (up == s.upstream.end()) {
                    int fd = Nonblocking(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
                    sockaddr_in to = Loopback(target_);
                    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
                    up = s.upstream.emplace(Key(from), fd).first;
                    s.clientOfUpstream[fd] = from;
                }
                s.Count(Direction::ToServer, true, static_cast<size_t>(n));
                s.datagramsDue.push_back({now + s.Delay(), up->second, {}, std::string(buf, static_cast<size_t>(n))});
            }
        }
        size_t i = 3;
        for (size_t k = 0; k < polledPipes; ++k) {
            State::Pipe* p = s.pipes[k].get();
            auto pull = [&](int fd, bool& eof, std::deque<State::Chunk>& queue, Direction dir, short revents) {
                if (eof || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
                for (;;) {
                    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
                    // Order is kept: a chunk is never due before the one queued ahead of it.
                    auto due = now + s.Delay();
                    if (!queue.empty()) due = std::max(due, queue.back().due);
                    if (n <= 0) {
                        eof = true;
                        queue.push_back({due, {}});
                        return;
                    }
                    s.Count(dir, false, static_cast<size_t>(n));
                    queue.push_back({due, std::string(buf, static_cast<size_t>(n))});
                }
            };
            pull(p->client, p->clientEof, p->toServer, Direction::ToServer, fds[i].revents);
            pull(p->server, p->serverEof, p->toClient, Direction::ToClient, fds[i + 1].revents);
            i += 2;
        }
        for (; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            auto client = s.clientOfUpstream.find(fds[i].fd);
            if (client == s.clientOfUpstream.end()) continue;
            for (;;) {
                ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n < 0) break;
                s.Count(Direction::ToClient, true, static_cast<size_t>(n));
                s.datagramsDue.push_back({now + s.Delay(), s.udpFd, client->second, std::string(buf, static_cast<size_t>(n))});
            }
        }
    }
}

}  // namespace qmtest
