// The control connection: TCP with TLS (OpenSSL), the server's certificate
// checked against the pinned SHA-256 or else the system's CAs and the host
// name. Never connects unverified. Used by one thread only: an OpenSSL
// connection read and written from two threads breaks its record layer.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/proto/messages.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace qmnim::net {

class ClientIdentity;

class TlsLink {
public:
    using Clock = std::chrono::steady_clock;
    enum class Result { Ok, Failed, Refused, TimedOut, Cancelled };

    TlsLink() = default;
    ~TlsLink();
    TlsLink(const TlsLink&) = delete;
    TlsLink& operator=(const TlsLink&) = delete;

    // Connects and completes the handshake by `deadline`. While it waits it
    // also watches `wakeFd`; when that becomes readable and `cancelled()` says
    // so it gives up (Cancelled). Refused: the certificate failed the check.
    Result Connect(const ServerEndpoint& server, const ClientIdentity* identity, Clock::time_point deadline,
                   int wakeFd, const std::function<bool()>& cancelled, std::string& error);
    bool connected() const { return ssl_ != nullptr; }
    int fd() const { return fd_; }

    // Queues one frame; Flush() writes what the socket takes.
    void Send(proto::MessageType type, std::string_view payload);
    // Writes queued bytes; false when the connection broke.
    bool Flush();
    // Whether the poll loop should wait for the socket to become writable.
    bool WantsWrite() const;
    size_t queuedBytes() const { return out_.size() - outSent_; }
    // Bytes written that the peer has not acknowledged yet, ours and the
    // kernel's: what a stalled path holds back and would deliver late.
    size_t backlogBytes() const;
    // Whether the kernel is resending what the peer did not acknowledge in
    // time: the path is stalled, anything queued now arrives late.
    bool stalled() const;
    // Reads what is there into `frames`; false when the peer closed or the connection broke.
    bool Receive(proto::FrameParser& frames);
    // Overwrites the queued bytes (they may hold a password) and closes.
    void Close();

private:
    friend bool ReadServerFingerprint(ServerEndpoint, std::chrono::milliseconds, std::string&, std::string&);
    bool WaitFor(short events, Clock::time_point deadline, int wakeFd, const std::function<bool()>& cancelled,
                 Result& result);

    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string out_;
    size_t outSent_ = 0;
    bool readWantsWrite_ = false;
    bool writeWantsRead_ = false;
    std::string peerSha256_;  // of the certificate the last refused handshake saw
};

// The SHA-256 (raw bytes) of the certificate the server shows, learnt from a
// handshake that is refused right after it: for an operator who wants to pin
// it, after checking it with the server's own operator.
bool ReadServerFingerprint(ServerEndpoint server, std::chrono::milliseconds timeout, std::string& fingerprint,
                           std::string& error);

}  // namespace qmnim::net
