// One user's presence on the voice server: the control connection on a thread
// of its own, login, keep-alive, reconnection with back-off, the room (a
// channel under the root) and the voice packets in both directions.
//
// Thread rules: every public call may come from any thread; the listener is
// called on the session thread only, never with a lock of the session held.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "outside/qm_nim/session/backoff.h"
#include "outside/qm_nim/session/room_members.h"
#include "outside/qm_nim/session/roster.h"
#include "outside/qm_nim/session/voice_transport.h"

namespace qmnim::net {
class ClientIdentity;
class TlsLink;
}  // namespace qmnim::net

namespace qmnim::session {

// Outcome codes of a join, as the page sees them in "res".
enum JoinCode : int {
    kJoinOk = 200,
    kJoinBadRoom = 400,
    kJoinNotLoggedIn = 401,
    kJoinRefused = 403,
    kJoinTimedOut = 408,
    kJoinNoServer = 503,
};

struct JoinResult {
    int code = kJoinOk;
    std::string roomId;
    std::uint32_t channelId = 0;
    std::string reason;  // for the log when code is not 200
    bool rejoin = false; // after a reconnection
};

struct Member {
    std::uint32_t session = 0;
    std::string name;
    bool muted = false;
    bool deafened = false;
};

class SessionListener {
public:
    virtual void OnOnline(std::uint32_t maxBandwidth, bool reconnected) = 0;
    virtual void OnOffline(const std::string& reason, bool retrying) = 0;
    virtual void OnJoin(const JoinResult& result) = 0;
    virtual void OnMembersChanged() = 0;
    // A voice packet from another user in the own room (never from anyone
    // else, whatever the server routes to us).
    virtual void OnVoice(const proto::ReceivedVoice& voice) = 0;
    // The share of voice packets the path loses (percent), when it changes.
    virtual void OnPathLoss(int /*percent*/) {}

protected:
    ~SessionListener() = default;
};

struct SessionOptions {
    net::ServerEndpoint server;
    std::shared_ptr<const net::ClientIdentity> identity;  // may be null
    // Nothing heard from the server on any path for `deadAfter`, or on the
    // connection itself for `connectionDeadAfter`: reconnect. The connection
    // is pinged as often as the voice path needs (see VoiceTransport).
    std::chrono::milliseconds deadAfter{6000};
    std::chrono::milliseconds connectionDeadAfter{25000};
    std::chrono::milliseconds firstBackoff{250};
    std::chrono::milliseconds maxBackoff{8000};
    std::chrono::milliseconds stableAfter{30000};     // a session up this long starts the back-off over
    std::chrono::milliseconds joinTimeout{5000};
};

class VoiceSession : private VoiceTransport::Host {
public:
    using Clock = std::chrono::steady_clock;

    VoiceSession(SessionOptions options, SessionListener* listener);
    ~VoiceSession();  // closes the connection and joins the thread
    VoiceSession(const VoiceSession&) = delete;
    VoiceSession& operator=(const VoiceSession&) = delete;

    // Connects and authenticates; true once the server sent ServerSync, false
    // on refusal, on a certificate that fails the check, or when `timeout`
    // runs out first. A previous login ends first. The password is kept (for
    // reconnecting) until Logout and overwritten then.
    bool Login(const std::string& user, const std::string& password, std::chrono::milliseconds timeout,
               std::string* whyNot = nullptr);
    void Logout();
    // Enters the room's channel, making it as a temporary channel when it does
    // not exist; the listener hears the outcome.
    void Join(const std::string& roomId);
    // Back to the root channel.
    void Leave();
    void SetSelfMute(bool muted);
    // Queues one voice packet (built by proto::BuildVoicePacket); dropped unless online.
    void SendVoice(std::string packet);

    bool online() const { return online_.load(); }
    std::uint32_t ownSession() const { return ownSession_.load(); }
    std::uint32_t maxBandwidth() const { return maxBandwidth_.load(); }
    // Other users in the own channel (empty outside a room), at most `max`
    // of them; `count` (when given) gets how many there are.
    std::vector<Member> Members(size_t max = SIZE_MAX, size_t* count = nullptr) const;
    // The own room for the page, listing the user and the sessions in `talking` first.
    RoomView Room(const std::vector<std::uint32_t>& talking) const;
    // The name of a user in the own channel; nullopt for anyone else.
    std::optional<std::string> NameInRoom(std::uint32_t session) const;
    // The name of a user by session ("" when unknown).
    std::string NameOf(std::uint32_t session) const;
    // Current room's channel, 0 when in the root channel or offline.
    std::uint32_t channel() const;

private:
    struct Command {
        enum Kind { Login, Logout, Join, Leave, Mute, Stop };
        Command(Kind k, std::string t = {}, bool f = false, std::uint64_t a = 0)
            : kind(k), text(std::move(t)), flag(f), attempt(a) {}
        Kind kind;
        std::string text;
        bool flag = false;
        std::uint64_t attempt = 0;
        std::string password;  // Login only; overwritten once used
        Clock::time_point deadline{};
    };
    enum class State { Idle, Authenticating, Online, Waiting };

    void Post(Command command);
    void Wake();
    void Run();
    void HandleCommand(Command& command);
    void ConnectNow();
    void Drop(const std::string& reason, bool retry);
    void OnFrame(std::uint16_t type, std::string_view payload);
    void OnServerSync(std::uint32_t session, std::uint32_t maxBandwidth);
    void FinishLogin(bool ok, const std::string& why);
    void AdvanceJoin();
    // A roster change from the server, applied under the roster's lock.
    template <class Message>
    void ApplyToRoster(const Message& message);
    void FinishJoin(int code, const std::string& reason);
    void SendMessage(int type, const std::string& payload);
    // A voice packet as the server relays it, by either path.
    void VoiceIn(std::string_view packet);
    // VoiceTransport::Host (session thread).
    void SendControl(proto::MessageType type, const std::string& payload) override;
    bool SendTunnelled(std::string_view packet) override;
    void DatagramVoice(std::string_view packet) override { VoiceIn(packet); }

    const SessionOptions options_;
    SessionListener* const listener_;
    int wakeFd_ = -1;
    std::thread thread_;

    // Commands and outgoing voice, handed to the session thread.
    std::mutex queueLock_;
    std::deque<Command> commands_;
    std::deque<std::string> voiceOut_;

    // Login handshake with the caller of Login().
    std::mutex loginLock_;
    std::condition_variable loginDone_;
    std::uint64_t loginAttempt_ = 0;  // the attempt the caller waits for
    std::optional<bool> loginResult_;
    std::string loginWhy_;
    std::atomic<std::uint64_t> cancelAttempt_{0};

    // Session-thread state.
    std::unique_ptr<net::TlsLink> link_;
    std::unique_ptr<proto::FrameParser> frames_;
    std::unique_ptr<VoiceTransport> transport_;
    int reportedLoss_ = 0;
    State state_ = State::Idle;
    std::string user_;
    std::string password_;
    std::uint64_t attempt_ = 0;      // login attempt in progress (0: reconnecting)
    std::uint64_t lastLogin_ = 0;    // the latest login asked for
    bool wantConnection_ = false;
    bool selfMute_ = false;
    Clock::time_point nextTry_;
    Clock::time_point loginDeadline_;
    Backoff backoff_;
    Clock::time_point lastHeard_;
    Clock::time_point nextPing_;
    Clock::time_point lastPing_;
    bool everOnline_ = false;
    // The room the user wants to be in, and a join in progress.
    std::string wantedRoom_;
    bool joinPending_ = false;
    bool joinRejoin_ = false;
    bool createSent_ = false;
    std::uint32_t moveTarget_ = 0;  // channel asked to move into, 0: none yet
    // A move to the root asked by a leave that the server has not shown back yet:
    // a join right after it must not take the old channel for the room reached.
    bool leaveInFlight_ = false;
    Clock::time_point joinDeadline_;


    std::atomic<bool> online_{false};
    std::atomic<std::uint32_t> ownSession_{0};
    std::atomic<std::uint32_t> maxBandwidth_{0};

    mutable std::mutex rosterLock_;  // roster_ and ownChannel_
    Roster roster_;
    std::uint32_t ownChannel_ = 0;
};

}  // namespace qmnim::session
