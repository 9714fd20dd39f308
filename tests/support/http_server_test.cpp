// The tests' HTTP server (also the demo's) stays bounded however many
// requests it serves: a long run costs no more than its busiest moment.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"
#include "tests/support/tls_identity.h"

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

// A TLS client that asks for a long answer and goes away while it is being
// written: the server's writes then fail with EPIPE, and its close_notify too.
// The process (here: the test) lives on, and the server answers the next one.
TEST(HttpServer, ATlsClientLeavingMidAnswerDoesNotEndTheProcess) {
    qmtest::TlsIdentity identity = qmtest::MakeSelfSignedIdentity();
    ASSERT_FALSE(identity.certPem.empty());
    qmtest::HttpServer server;
    // Larger than what loopback buffers hold, so the server is still writing.
    server.RoutePage("/long", std::string(32u << 20, 'x'));
    server.RoutePage("/ping", "ok");
    ASSERT_TRUE(server.StartTls(identity));

    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_NE(ctx, nullptr);
    for (int round = 0; round < 3; ++round) {
        int fd = Connect(server.port());
        ASSERT_GE(fd, 0);
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        ASSERT_EQ(SSL_connect(ssl), 1);
        std::string request = "GET /long HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ASSERT_EQ(SSL_write(ssl, request.data(), static_cast<int>(request.size())), static_cast<int>(request.size()));
        // Half-closed first, so the server's socket sees the end as EPIPE (which
        // raises SIGPIPE), not as a reset; then gone with the answer unread.
        ASSERT_TRUE(server.WaitForRequest("/long", 30s, static_cast<size_t>(round + 1)));
        shutdown(fd, SHUT_WR);
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 30000), 1);  // the answer is on its way
        SSL_free(ssl);
        close(fd);
        ASSERT_TRUE(qmtest::WaitUntil([&] { return server.ConnectionThreads() == 0; }, 30s));
    }
    SSL_CTX_free(ctx);
    EXPECT_EQ(server.Connections(), 3u);
}

}  // namespace
