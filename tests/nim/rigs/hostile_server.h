// A voice server of our own for tests that need what a real server never
// does: it speaks the protocol's framing over TLS on 127.0.0.1 and sends what
// the test scripts (huge rosters, floods, voice from sessions never
// announced, frames that lie about their length, refusals with odd reasons),
// and it records everything a client sends, with the time it arrived.
//
// Left alone it behaves like a small, well-mannered server: a login gets the
// usual sequence (Version, CryptSetup, CodecVersion, every ChannelState, every
// UserState with the client's own last, ServerSync, ServerConfig), pings are
// echoed, a move into a channel or the creation of one is granted and told to
// everyone, and voice goes to the others in the speaker's channel.
//
// Thread rules: one thread of its own drives every connection; all public
// calls may come from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/nim/rigs/voice_wire.h"

namespace qmtest {

class HostileVoiceServer {
public:
    using Clock = std::chrono::steady_clock;

    struct Received {
        int connection = 0;  // 1 for the first connection accepted, then 2, ...
        std::uint16_t type = 0;
        std::string payload;
        Clock::time_point at;
    };

    HostileVoiceServer();
    ~HostileVoiceServer();
    HostileVoiceServer(const HostileVoiceServer&) = delete;
    HostileVoiceServer& operator=(const HostileVoiceServer&) = delete;

    // Listens on an ephemeral port of 127.0.0.1 with a fresh certificate.
    bool Start();
    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& fingerprint() const { return fingerprint_; }
    // A deploy.ini whose [voice] section names this server.
    std::string Deploy() const;

    // --- the world a login sees (the root channel 0 always exists) ---
    void AddChannel(std::uint32_t id, std::uint32_t parent, const std::string& name);
    // `count` channels under the root named PREFIX0, PREFIX1, ...; ids from `firstId`.
    void AddChannels(std::uint32_t firstId, size_t count, const std::string& prefix);
    void AddUser(const voicewire::UserFields& user);
    // `count` users in `channel` named PREFIX0, ...; sessions from `firstSession`.
    void AddUsers(std::uint32_t channel, std::uint32_t firstSession, size_t count, const std::string& prefix);

    // --- how it answers ---
    // A Reject of `type` with `reason` instead of the login sequence, then the end of the connection.
    void RejectLogins(std::uint32_t type, const std::string& reason);
    // Raw bytes sent right after a login's ServerConfig (to every later login).
    void SendAfterSync(const std::string& bytes);
    void AnswerJoins(bool on);
    void AnswerPings(bool on);
    // Accepts connections only to close them at once (each still counts).
    void RefuseConnections(bool on);

    // --- pushing ---
    // Raw bytes to every connection that has logged in; false when there is none.
    bool Send(const std::string& bytes);
    // Whether everything pushed so far has left for the clients (written to
    // their sockets), waiting up to `timeout`.
    bool WaitSent(std::chrono::milliseconds timeout);
    // Closes every connection (the listener stays).
    void DropConnections();
    // A tone as voice from `session` to every logged-in connection: `frames`
    // frames of 20 ms, sent in real time, the sequence stepping by
    // `sequenceStep` per frame, the last frame marked as the end.
    void StreamTone(std::uint32_t session, double hz, int frames, int sequenceStep = 1);
    // Whether every stream has sent its last frame, waiting up to `timeout`.
    bool WaitStreamsDone(std::chrono::milliseconds timeout);

    // --- what clients did ---
    std::vector<Received> Frames() const;
    size_t Count(std::uint16_t type) const;
    // The first received frame of `type` (from connection `connection`, 0:
    // any) for which `match` holds, that arrived after `after`; waits up to `timeout`.
    std::optional<Received> WaitFor(std::uint16_t type, std::chrono::milliseconds timeout,
                                    const std::function<bool(const Received&)>& match = nullptr,
                                    Clock::time_point after = {}, int connection = 0) const;
    // Connections accepted so far, and when.
    std::vector<Clock::time_point> Connections() const;
    bool WaitConnections(size_t count, std::chrono::milliseconds timeout) const;
    // Logins answered with the login sequence so far.
    size_t Logins() const;
    bool WaitLogins(size_t count, std::chrono::milliseconds timeout) const;
    // The session the last login was given, and the channel it is in now.
    std::uint32_t LastSession() const;
    std::optional<std::uint32_t> ChannelOf(std::uint32_t session) const;
    // Bytes of voice (UDPTunnel payloads) received within [from, to).
    size_t VoiceBytes(Clock::time_point from, Clock::time_point to) const;

private:
    struct Connection;
    struct Stream;
    struct Shared;
    void Run();
    void Post(std::function<void()> task);

    std::unique_ptr<Shared> shared_;
    int port_ = 0;
    std::string fingerprint_;
    std::thread thread_;
};

}  // namespace qmtest
