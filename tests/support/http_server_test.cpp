// The tests' HTTP server (also the demo's) stays bounded however many
// requests it serves: a long run costs no more than its busiest moment.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One GET; true when a whole "200" answer came back.
bool Get(int port, const std::string& path) {
    int fd = Connect(port);
    if (fd < 0) return false;
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    bool ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    std::string answer;
    char buf[4096];
    for (ssize_t n; ok && (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    close(fd);
    return ok && answer.rfind("HTTP/1.1 200", 0) == 0 && answer.find("\r\n\r\nok") != std::string::npos;
}

long VirtualKb() { return qmtest::ReadProcKb("self", "status", "VmSize:"); }

TEST(HttpServer, ThousandsOfRequestsLeaveNoThreadsOrStacksBehind) {
    // Each thread that allocates may get a malloc arena of its own (64 MiB of
    // address space, up to eight per core): two keep the figure about stacks.
    mallopt(M_ARENA_MAX, 2);
    qmtest::HttpServer server;
    server.RoutePage("/ping", "ok");
    ASSERT_TRUE(server.Start());
    // Warm up (the first threads' arenas), then measure.
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(Get(server.port(), "/ping"));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return server.ConnectionThreads() <= 1; }, 10s));
    long before = VirtualKb();

    constexpr int kClients = 6, kEach = 500;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) answered += Get(server.port(), "/ping");
        });
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered.load(), kClients * kEach);
    EXPECT_EQ(server.RequestCount("/ping"), size_t{50 + kClients * kEach});

    // Every connection is over: their threads are gone (joined), and so are
    // their stacks (8 MiB of address space each while a thread is not joined).
    EXPECT_TRUE(qmtest::WaitUntil([&] { return server.ConnectionThreads() <= 1; }, 10s))
        << server.ConnectionThreads() << " connection threads left";
    long grown = VirtualKb() - before;
    EXPECT_LT(grown, 256 * 1024) << "virtual size grew by " << grown << " KiB over " << kClients * kEach << " requests";
}

TEST(HttpServer, IdleConnectionsBeyondTheBoundWaitWithoutThreads) {
    qmtest::HttpServer server;
    server.RoutePage("/ping", "ok");
    ASSERT_TRUE(server.Start());
    // More idle connections than the bound: only the bound get a thread.
    std::vector<int> idle;
    for (size_t i = 0; i < qmtest::HttpServer::kMaxConnections + 40; ++i) {
        int fd = Connect(server.port());
        if (fd >= 0) idle.push_back(fd);
    }
    ASSERT_TRUE(qmtest::WaitUntil([&] { return server.ConnectionThreads() == qmtest::HttpServer::kMaxConnections; }, 20s))
        << server.ConnectionThreads();
    for (int fd : idle) close(fd);
    // Once they are gone the server answers again.
    EXPECT_TRUE(qmtest::WaitUntil([&] { return Get(server.port(), "/ping"); }, 30s));
    server.RecordRequests(false);
    EXPECT_TRUE(Get(server.port(), "/ping"));
    EXPECT_EQ(server.RequestCount("/ping"), 1u) << "a request recorded after recording was turned off";
}

}  // namespace
