// A small HTTP/1.1 server on 127.0.0.1 for tests, benchmarks and the demo run:
// serves files from a directory and answers routes with handlers, records every
// request, and can misbehave on purpose (never answer, answer slowly, reset).
// It speaks HTTPS instead when started with a TLS identity. One thread per
// open connection, at most kMaxConnections at a time (further connections
// wait in the listen queue); a finished connection's thread is joined at once,
// so a long run of requests costs no more than its busiest moment.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tls_identity.h"

struct ssl_ctx_st;

namespace qmtest {

struct HttpRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
};

struct HttpResponse {
    enum class Behaviour { Normal, NeverAnswer, Reset };
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    Behaviour behaviour = Behaviour::Normal;
    std::chrono::milliseconds delay{0};  // before the answer is written
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    static constexpr size_t kMaxConnections = 256;

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1:port (0 = any free port). False on failure.
    bool Start(int port = 0);
    // The same over TLS with this certificate and key; Url() gives https addresses.
    bool StartTls(const TlsIdentity& identity, int port = 0);
    void Stop();
    int port() const { return port_; }
    std::string Url(const std::string& path = "/") const;

    // Exact path (without query) → handler. Checked before the static files.
    void Route(const std::string& path, Handler handler);
    // Exact path → this HTML page (200).
    void RoutePage(const std::string& path, const std::string& html);
    // Every request not routed: this handler (default: static files, else 404).
    void Fallback(Handler handler);
    // Files under `dir` are served for GET requests.
    void ServeDirectory(const std::string& dir);

    std::vector<HttpRequest> Requests() const;
    size_t RequestCount() const;
    // Waits until at least `count` requests arrived; false on timeout.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Requests whose target (path and query) is exactly `target`: how many,
    // whether any, their bodies in arrival order, and a wait for the `count`th.
    size_t RequestCount(const std::string& target) const;
    bool WasRequested(const std::string& target) const { return RequestCount(target) > 0; }
    std::vector<std::string> BodiesOf(const std::string& target) const;
    std::string BodyOf(const std::string& target) const {  // the first one's; "" when none
        std::vector<std::string> bodies = BodiesOf(target);
        return bodies.empty() ? std::string() : bodies.front();
    }
    std::optional<std::string> LastBodyOf(const std::string& target) const {
        std::vector<std::string> bodies = BodiesOf(target);
        if (bodies.empty()) return std::nullopt;
        return bodies.back();
    }
    bool WaitForRequest(const std::string& target, std::chrono::milliseconds timeout, size_t count = 1) const;
    void ClearRequests();
    // Whether requests are recorded (default true); a long-running server
    // that nobody asks about (the demo's) turns it off.
    void RecordRequests(bool record);
    // Connection threads alive now (finished ones not yet joined included).
    size_t ConnectionThreads() const;
    // Connections accepted so far, whether or not a request came over them
    // (a TLS client that refuses the certificate sends none).
    size_t Connections() const;

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    size_t CountLocked(const std::string& target) const;
    // Moves the threads of finished connections to `finished` (to be joined unlocked).
    void ReapLocked(std::vector<std::thread>& finished);
    void AcceptLoop();
    void Serve(int fd);
    HttpResponse Answer(const HttpRequest& request);

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> running_{false};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::condition_variable workerDone_;
    std::vector<HttpRequest> requests_;
    bool record_ = true;
    size_t connections_ = 0;
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::string directory_;
    std::list<Worker> workers_;
    std::vector<int> openFds_;
    ssl_ctx_st* tls_ = nullptr;  // SSL_CTX when serving HTTPS
};

// Content type by file extension.
std::string ContentTypeFor(const std::string& path);

}  // namespace qmtest
