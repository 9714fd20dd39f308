#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qmtest {
namespace {

// One accepted connection, plain or TLS.
struct Connection {
    int fd = -1;
    SSL* ssl = nullptr;

    // Waits up to 10 s for data; <= 0 on timeout, end or error.
    ssize_t Read(char* buf, size_t size) {
        if (!ssl || SSL_pending(ssl) == 0) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return -1;
        }
        if (!ssl) return recv(fd, buf, size, 0);
        return SSL_read(ssl, buf, static_cast<int>(std::min<size_t>(size, 1 << 20)));
    }
    bool Write(const char* data, size_t size) {
        if (ssl) return SSL_write(ssl, data, static_cast<int>(size)) > 0;
        return send(fd, data, size, MSG_NOSIGNAL) > 0;
    }
};

bool ReadRequest(Connection& conn, HttpRequest& req) {
    std::string data;
    char buf[8192];
    size_t headerEnd = std::string::npos;
    // Bounded: at most 1 MiB of headers, 10 s without data ends the connection.
    while (headerEnd == std::string::npos) {
        ssize_t n = conn.Read(buf, sizeof(buf));
        if (n <= 0) return false;
        data.append(buf, static_cast<size_t>(n));
        headerEnd = data.find("\r\n\r\n");
        if (data.size() > (1u << 20)) return false;
    }
    std::istringstream head(data.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream first(line);
    first >> req.method >> req.target;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon), value = line.substr(colon + 1);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        value.erase(0, value.find_first_not_of(' '));
        req.headers[name] = value;
    }
    size_t length = 0;
    auto it = req.headers.find("content-length");
    if (it != req.headers.end()) length = std::strtoul(it->second.c_str(), nullptr, 10);
    if (length > (64u << 20)) return false;
    req.body = data.substr(headerEnd + 4);
    while (req.body.size() < length) {
        ssize_t n = conn.Read(buf, sizeof(buf));
        if (n <= 0) return false;
        req.body.append(buf, static_cast<size_t>(n));
    }
    req.body.resize(std::min(req.body.size(), length));
    return true;
}

void WriteAll(Connection& conn, const std::string& data) {
    constexpr size_t kChunk = 1 << 16;
    for (size_t off = 0; off < data.size(); off += kChunk)
        if (!conn.Write(data.data() + off, std::min(kChunk, data.size() - off))) return;
}

// A server context for `identity`; null when OpenSSL refuses it.
SSL_CTX* NewTlsContext(const TlsIdentity& identity) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) return nullptr;
    BIO* certBio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

}  // namespace

std::string ContentTypeFor(const std::string& path) {
    auto ends = [&](const char* ext) {
        size_t n = std::strlen(ext);
        return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
    };
    if (ends(".html") || ends(".htm")) return "text/html; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".png")) return "image/png";
    if (ends(".json")) return "application/json";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

HttpServer::HttpServer() = default;
HttpServer::~HttpServer() {
    Stop();
    if (tls_) SSL_CTX_free(tls_);
}

bool HttpServer::StartTls(const TlsIdentity& identity, int port) {
    tls_ = NewTlsContext(identity);
    return tls_ && Start(port);
}

bool HttpServer::Start(int port) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listenFd_, 64) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof(addr);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    running_ = true;
    acceptThread_ = std::thread(&HttpServer::AcceptLoop, this);
    return true;
}

void HttpServer::Stop() {
    if (!running_.exchange(false)) return;
    if (acceptThread_.joinable()) acceptThread_.join();
    close(listenFd_);
    listenFd_ = -1;
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& w : workers)
        if (w.thread.joinable()) w.thread.join();
}

std::string HttpServer::Url(const std::string& path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

void HttpServer::Route(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(handler);
}

void HttpServer::Fallback(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    fallback_ = std::move(handler);
}

void HttpServer::ServeDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> lock(mutex_);
    directory_ = dir;
}

std::vector<HttpRequest> HttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t HttpServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool HttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void HttpServer::RoutePage(const std::string& path, const std::string& html) {
    Route(path, [html](const HttpRequest&) {
        HttpResponse r;
        r.body = html;
        return r;
    });
}

size_t HttpServer::CountLocked(const std::string& target) const {
    size_t n = 0;
    for (const HttpRequest& r : requests_) n += r.target == target;
    return n;
}

size_t HttpServer::RequestCount(const std::string& target) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(target);
}

std::vector<std::string> HttpServer::BodiesOf(const std::string& target) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const HttpRequest& r : requests_)
        if (r.target == target) out.push_back(r.body);
    return out;
}

bool HttpServer::WaitForRequest(const std::string& target, std::chrono::milliseconds timeout, size_t count) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return CountLocked(target) >= count; });
}

void HttpServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

void HttpServer::RecordRequests(bool record) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_ = record;
}

size_t HttpServer::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

size_t HttpServer::ConnectionThreads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_.size();
}

void HttpServer::ReapLocked(std::vector<std::thread>& finished) {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        finished.push_back(std::move(it->thread));
        it = workers_.erase(it);
    }
}

void HttpServer::AcceptLoop() {
    while (running_) {
        std::vector<std::thread> finished;
        bool full;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ReapLocked(finished);
            full = workers_.size() >= kMaxConnections;
            if (full) {
                workerDone_.wait_for(lock, std::chrono::milliseconds(100));
                ReapLocked(finished);
            }
        }
        for (auto& t : finished) t.join();
        if (full) continue;
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        ++connections_;
        openFds_.push_back(fd);
        // The list keeps its elements in place: the thread finds its own entry.
        auto worker = workers_.emplace(workers_.end());
        worker->thread = std::thread([this, fd, worker] {
            // A client that goes away while the answer is written must not end
            // the process: the plain path sends with MSG_NOSIGNAL, but the TLS
            // library writes (the answer, its close_notify) with plain write().
            // Blocked here, SIGPIPE stays pending on this thread and goes with it.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            Serve(fd);
            std::lock_guard<std::mutex> done(mutex_);
            worker->done = true;
            workerDone_.notify_all();
        });
    }
}

HttpResponse HttpServer::Answer(const HttpRequest& request) {
    std::string path = request.target.substr(0, request.target.find('?'));
    Handler handler;
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = routes_.find(path);
        if (it != routes_.end()) handler = it->second;
        else handler = fallback_;
        dir = directory_;
    }
    if (handler) return handler(request);
    HttpResponse r;
    if (!dir.empty() && path.find("..") == std::string::npos) {
        std::string file = dir + (path == "/" ? "/index.html" : path);
        std::ifstream in(file, std::ios::binary);
        if (in) {
            std::ostringstream ss;
            ss << in.rdbuf();
            r.body = ss.str();
            r.contentType = ContentTypeFor(file);
            return r;
        }
    }
    r.status = 404;
    r.body = "not found";
    return r;
}

void HttpServer::Serve(int fd) {
    Connection conn;
    conn.fd = fd;
    if (tls_) {
        conn.ssl = SSL_new(tls_);
        SSL_set_fd(conn.ssl, fd);
        // A client that refuses the certificate ends here, as it should.
        if (SSL_accept(conn.ssl) != 1) ERR_clear_error(), SSL_free(conn.ssl), conn.ssl = nullptr, conn.fd = -1;
    }
    // One request per connection ("Connection: close"), as the clients here use them.
    HttpRequest req;
    if (conn.fd >= 0 && ReadRequest(conn, req)) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (record_) requests_.push_back(req);
        }
        requestArrived_.notify_all();
        HttpResponse r = Answer(req);
        if (r.delay.count() > 0) {
            auto until = std::chrono::steady_clock::now() + r.delay;
            while (running_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (r.behaviour == HttpResponse::Behaviour::Reset) {
            linger lg{1, 0};  // close with RST
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
        } else if (r.behaviour == HttpResponse::Behaviour::NeverAnswer) {
            while (running_) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) > 0) {
                    char b[256];
                    if (recv(fd, b, sizeof(b), 0) <= 0) break;
                }
            }
        } else {
            std::ostringstream out;
            out << "HTTP/1.1 " << r.status << " " << Reason(r.status) << "\r\n";
            out << "Content-Type: " << r.contentType << "\r\n";
            out << "Content-Length: " << r.body.size() << "\r\n";
            out << "Cache-Control: no-store\r\nConnection: close\r\n";
            for (const auto& h : r.headers) out << h.first << ": " << h.second << "\r\n";
            out << "\r\n";
            WriteAll(conn, out.str());
            if (req.method != "HEAD") WriteAll(conn, r.body);
        }
    }
    if (conn.ssl) {
        SSL_shutdown(conn.ssl);
        SSL_free(conn.ssl);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    }
    close(fd);
}

}  // namespace qmtest
