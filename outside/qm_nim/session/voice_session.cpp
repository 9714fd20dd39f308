#include "outside/qm_nim/session/voice_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "outside/qm_nim/audio/thread_priority.h"
#include "outside/qm_nim/net/tls_link.h"
#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/room_name.h"
#include "outside/qm_nim/session/join_step.h"

namespace qmnim::session {

using proto::MessageType;

namespace {

constexpr const char kLogSource[] = "qm_nim\\VoiceSession";
constexpr size_t kMaxQueuedVoice = 25;  // half a second; older packets are stale by then
// Voice queued behind this many unacknowledged bytes of the control
// connection (a few hundred milliseconds of it), or while the connection is
// resending, would arrive late: dropped.
constexpr size_t kMaxTunnelBacklog = 3000;

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

// A text the server chose (a reason, a name), as far as it goes into the
// page's events and the log: cut short; the log escapes it on top.
std::string ServerText(const std::string& text) { return CutUtf8(text, 256); }

std::string RejectText(const proto::RejectMsg& r) {
    static const char* const kNames[] = {"refused",          "wrong version",  "invalid user name",
                                         "wrong password",   "wrong server password", "user name in use",
                                         "server full",      "certificate needed", "authenticator failed"};
    std::string text = r.type < 9 ? kNames[r.type] : "refused";
    if (!r.reason.empty()) text += " (" + ServerText(r.reason) + ")";
    return text;
}

std::string DenyText(const proto::PermissionDeniedMsg& d) {
    switch (static_cast<proto::DenyType>(d.type.value_or(1))) {
    case proto::DenyType::ChannelName: return "channel name refused";
    case proto::DenyType::TemporaryChannel: return "not allowed in a temporary channel";
    case proto::DenyType::MissingCertificate: return "a client certificate is needed";
    case proto::DenyType::ChannelFull: return "channel full";
    case proto::DenyType::NestingLimit: return "channel nesting limit";
    default: return "permission denied" + (d.reason.empty() ? std::string() : " (" + ServerText(d.reason) + ")");
    }
}

void Wipe(std::string& s) {
    if (!s.empty()) OPENSSL_cleanse(s.data(), s.size());
    s.clear();
}

}  // namespace

VoiceSession::VoiceSession(SessionOptions options, SessionListener* listener)
    : options_(std::move(options)),
      listener_(listener),
      backoff_(options_.firstBackoff, options_.maxBackoff, options_.stableAfter) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] {
        audio::RaiseThisThreadForAudio();  // it carries voice both ways
        Run();
    });
}

VoiceSession::~VoiceSession() {
    Post({Command::Stop, {}, false, 0});
    if (thread_.joinable()) thread_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void VoiceSession::Wake() {
    std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void VoiceSession::Post(Command command) {
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        commands_.push_back(std::move(command));
    }
    Wake();
}

bool VoiceSession::Login(const std::string& user, const std::string& password, std::chrono::milliseconds timeout,
                         std::string* whyNot) {
    std::uint64_t attempt;
    {
        std::lock_guard<std::mutex> lock(loginLock_);
        attempt = ++loginAttempt_;
        loginResult_.reset();
        loginWhy_.clear();
    }
    auto deadline = Clock::now() + timeout;
    Command c{Command::Login, user, false, attempt};
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        commands_.push_back(std::move(c));
        Command& queued = commands_.back();
        queued.password.assign(password);
        queued.deadline = deadline;
    }
    Wake();
    std::unique_lock<std::mutex> lock(loginLock_);
    bool answered = loginDone_.wait_until(lock, deadline, [&] { return loginResult_.has_value() || loginAttempt_ != attempt; });
    if (answered && loginAttempt_ == attempt && *loginResult_) return true;
    if (whyNot) *whyNot = !answered ? "no answer in time" : loginAttempt_ != attempt ? "replaced by a newer login" : loginWhy_;
    lock.unlock();
    if (!answered) {
        // Too late for the caller: whatever the attempt still does, it is undone.
        cancelAttempt_.store(attempt);
        Post({Command::Logout, {}, false, attempt});
    }
    return false;
}

void VoiceSession::Logout() { Post({Command::Logout, {}, false, 0}); }
void VoiceSession::Join(const std::string& roomId) { Post({Command::Join, roomId, false, 0}); }
void VoiceSession::Leave() { Post({Command::Leave, {}, false, 0}); }
void VoiceSession::SetSelfMute(bool muted) { Post({Command::Mute, {}, muted, 0}); }

void VoiceSession::SendVoice(std::string packet) {
    if (!online_.load() || packet.empty()) return;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (voiceOut_.size() >= kMaxQueuedVoice) voiceOut_.pop_front();
        voiceOut_.push_back(std::move(packet));
    }
    Wake();
}

std::vector<Member> VoiceSession::Members(size_t max, size_t* count) const {
    std::lock_guard<std::mutex> lock(rosterLock_);
    std::vector<Member> out;
    std::uint32_t self = ownSession_.load();
    if (count) *count = 0;
    if (ownChannel_ == 0) return out;
    size_t others = roster_.CountIn(ownChannel_);
    if (roster_.FindUser(self) && roster_.FindUser(self)->channel == ownChannel_) --others;
    if (count) *count = others;
    // One more than asked for: the user's own entry is among them.
    for (const User& u : roster_.ListIn(ownChannel_, {}, max == SIZE_MAX ? max : max + 1)) {
        if (u.session == self || out.size() >= max) continue;
        out.push_back({u.session, u.name, u.muted(), u.deafened()});
    }
    return out;
}

RoomView VoiceSession::Room(const std::vector<std::uint32_t>& talking) const {
    std::lock_guard<std::mutex> lock(rosterLock_);
    return ViewOfRoom(roster_, ownChannel_, ownSession_.load(), talking);
}

std::optional<std::string> VoiceSession::NameInRoom(std::uint32_t session) const {
    std::lock_guard<std::mutex> lock(rosterLock_);
    const User* u = roster_.FindUser(session);
    if (!u || ownChannel_ == 0 || u->channel != ownChannel_) return std::nullopt;
    return u->name;
}

std::string VoiceSession::NameOf(std::uint32_t session) const {
    std::lock_guard<std::mutex> lock(rosterLock_);
    const User* u = roster_.FindUser(session);
    return u ? u->name : std::string();
}

std::uint32_t VoiceSession::channel() const {
    std::lock_guard<std::mutex> lock(rosterLock_);
    return ownChannel_;
}

// --- session thread -------------------------------------------------------------------

void VoiceSession::SendMessage(int type, const std::string& payload) {
    if (link_ && link_->connected()) link_->Send(static_cast<MessageType>(type), payload);
}

void VoiceSession::Run() {
    link_ = std::make_unique<net::TlsLink>();
    frames_ = std::make_unique<proto::FrameParser>();
    transport_ = std::make_unique<VoiceTransport>(static_cast<VoiceTransport::Host&>(*this));
    bool stopping = false;
    while (!stopping) {
        std::deque<Command> commands;
        std::deque<std::string> voice;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            commands.swap(commands_);
            voice.swap(voiceOut_);
        }
        for (Command& c : commands) {
            if (c.kind == Command::Stop) stopping = true;
            if (!stopping) HandleCommand(c);
            Wipe(c.password);
        }
        if (stopping) break;

        auto now = Clock::now();
        if (state_ == State::Waiting && now >= nextTry_) {
            ConnectNow();
            continue;  // commands may have arrived while connecting
        }
        if (state_ == State::Authenticating && now >= loginDeadline_) {
            if (attempt_) FinishLogin(false, "no answer to the login in time");
            Drop("no answer to the login in time", attempt_ == 0);
        }
        auto transportWake = now + std::chrono::hours(1);
        if (state_ == State::Online) {
            for (std::string& packet : voice) transport_->SendVoice(packet, now);
            transportWake = transport_->Tick(now);
            // The voice path decides how often the connection needs a ping.
            nextPing_ = std::min(nextPing_, lastPing_ + transport_->PingInterval());
            if (now >= nextPing_) {
                SendMessage(static_cast<int>(MessageType::Ping), transport_->MakePing(NowMs()).Encode());
                lastPing_ = now;
                nextPing_ = now + transport_->PingInterval();
            }
            auto heard = std::max(lastHeard_, transport_->lastHeard());
            if (now - heard >= options_.deadAfter || now - lastHeard_ >= options_.connectionDeadAfter)
                Drop("the server went silent", true);
        }
        if (joinPending_ && now >= joinDeadline_) FinishJoin(kJoinTimedOut, "no answer from the server in time");
        if (link_->connected() && !link_->Flush()) Drop("the connection broke", true);

        // Sleep until something happens or the next timer is due.
        auto wakeAt = now + std::chrono::seconds(60);
        if (state_ == State::Waiting) wakeAt = std::min(wakeAt, nextTry_);
        if (state_ == State::Authenticating) wakeAt = std::min(wakeAt, loginDeadline_);
        if (state_ == State::Online)
            wakeAt = std::min({wakeAt, nextPing_, transportWake,
                               std::max(lastHeard_, transport_->lastHeard()) + options_.deadAfter,
                               lastHeard_ + options_.connectionDeadAfter});
        if (joinPending_) wakeAt = std::min(wakeAt, joinDeadline_);
        auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now()).count();
        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {link_->fd(), POLLIN, 0}, {transport_->fd(), POLLIN, 0}};
        if (link_->WantsWrite()) fds[1].events |= POLLOUT;
        if (!link_->connected()) fds[1].fd = -1;  // poll skips negative descriptors
        int n = ::poll(fds, 3, static_cast<int>(std::max<long long>(0, waitMs) + 1));
        if (n <= 0) continue;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
        // A datagram the server's host refused leaves an error on the socket
        // that poll reports (without POLLIN) until a read takes it: read then
        // too, or this thread would spin, at its raised priority.
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLIN | POLLERR))) transport_->OnReadable(Clock::now());
        if (link_->connected() && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            bool alive = link_->Receive(*frames_);
            std::uint16_t type;
            std::string_view payload;
            while (link_->connected() && frames_->Next(type, payload)) {
                lastHeard_ = Clock::now();
                OnFrame(type, payload);
            }
            if (link_->connected() && (!alive || frames_->failed()))
                Drop(frames_->failed() ? "the server sent an oversized message" : "the server closed the connection",
                     true);
        }
    }
    Drop("closed", false);
    Wipe(password_);
    transport_.reset();
    link_.reset();
}

void VoiceSession::HandleCommand(Command& c) {
    switch (c.kind) {
    case Command::Login:
        if (link_->connected() || state_ != State::Idle) Drop("a new login", false);
        if (cancelAttempt_.load() == c.attempt) return;
        lastLogin_ = c.attempt;
        user_ = c.text;
        Wipe(password_);
        password_.swap(c.password);
        wantConnection_ = true;
        wantedRoom_.clear();
        attempt_ = c.attempt;
        loginDeadline_ = c.deadline;
        backoff_.Reset();
        ConnectNow();
        break;
    case Command::Logout:
        if (c.attempt && c.attempt != lastLogin_) return;  // undoes a login that a newer one replaced already
        wantConnection_ = false;
        wantedRoom_.clear();
        if (joinPending_) joinPending_ = false;
        Drop("logged out", false);
        Wipe(password_);
        break;
    case Command::Join:
        wantedRoom_ = c.text;
        joinPending_ = true;
        joinRejoin_ = false;
        createSent_ = false;
        moveTarget_ = 0;
        joinDeadline_ = Clock::now() + options_.joinTimeout;
        if (wantedRoom_.empty()) {
            FinishJoin(kJoinBadRoom, "empty room id");
        } else if (!wantConnection_) {
            FinishJoin(kJoinNotLoggedIn, "not logged in");
        } else {
            AdvanceJoin();
        }
        break;
    case Command::Leave: {
        wantedRoom_.clear();
        joinPending_ = false;
        bool inRoom;
        {
            std::lock_guard<std::mutex> lock(rosterLock_);
            inRoom = ownChannel_ != 0;
        }
        if (state_ == State::Online && inRoom) {
            proto::UserStateMsg move;
            move.session = ownSession_.load();
            move.channelId = 0;
            SendMessage(static_cast<int>(MessageType::UserState), move.Encode());
            leaveInFlight_ = true;
        }
        break;
    }
    case Command::Mute:
        selfMute_ = c.flag;
        if (state_ == State::Online) {
            proto::UserStateMsg m;
            m.session = ownSession_.load();
            m.selfMute = selfMute_;
            SendMessage(static_cast<int>(MessageType::UserState), m.Encode());
        }
        break;
    case Command::Stop:
        break;
    }
}

void VoiceSession::ConnectNow() {
    state_ = State::Authenticating;
    auto deadline = attempt_ ? loginDeadline_ : Clock::now() + options_.joinTimeout;
    std::string error;
    auto cancelled = [this] {
        std::uint64_t count;
        (void)!::read(wakeFd_, &count, sizeof count);
        std::lock_guard<std::mutex> lock(queueLock_);
        for (const Command& c : commands_) {
            if (c.kind == Command::Login || c.kind == Command::Logout || c.kind == Command::Stop) return true;
        }
        return false;
    };
    auto result = link_->Connect(options_.server, options_.identity.get(), deadline, wakeFd_, cancelled, error);
    Wake();  // what arrived meanwhile is looked at in the next round
    if (result != net::TlsLink::Result::Ok) {
        QM_LOG(kLogSource) << "<qm_nim> " << (attempt_ ? "login" : "reconnection") << " failed: " << PageTextForLog(error);
        if (attempt_) FinishLogin(false, error);
        Drop(error, attempt_ == 0);
        return;
    }
    frames_ = std::make_unique<proto::FrameParser>();
    lastHeard_ = Clock::now();
    transport_->Start(link_->fd(), lastHeard_);
    if (!attempt_) loginDeadline_ = deadline;
    proto::VersionMsg version;
    version.version = proto::kProtocolVersion;
    version.release = "qm voice 1.0";
    version.os = "Linux";
    SendMessage(static_cast<int>(MessageType::Version), version.Encode());
    proto::AuthenticateMsg auth;
    auth.username = user_;
    auth.password = password_;
    std::string payload = auth.Encode();
    SendMessage(static_cast<int>(MessageType::Authenticate), payload);
    Wipe(payload);
    Wipe(auth.password);
    if (!link_->Flush()) {
        if (attempt_) FinishLogin(false, "the connection broke");
        Drop("the connection broke", attempt_ == 0);
    }
}

void VoiceSession::Drop(const std::string& reason, bool retry) {
    bool wasOnline = state_ == State::Online;
    if (wasOnline) QM_LOG(kLogSource) << "<qm_nim> disconnected: " << PageTextForLog(reason);
    bool hadLink = link_ && link_->connected();
    if (transport_) transport_->Stop();
    if (link_) link_->Close();
    online_.store(false);
    ownSession_.store(0);
    {
        std::lock_guard<std::mutex> lock(rosterLock_);
        roster_.Clear();
        ownChannel_ = 0;
    }
    leaveInFlight_ = false;
    retry = retry && wantConnection_;
    if (retry) {
        nextTry_ = backoff_.Failed(Clock::now());
        attempt_ = 0;
        state_ = State::Waiting;
    } else {
        state_ = State::Idle;
        if (!wantConnection_) attempt_ = 0;
    }
    if (wasOnline || (hadLink && everOnline_)) {
        listener_->OnOffline(reason, retry);
        listener_->OnMembersChanged();
    }
}

void VoiceSession::FinishLogin(bool ok, const std::string& why) {
    std::uint64_t attempt = attempt_;
    if (!ok) {
        wantConnection_ = false;
        attempt_ = 0;
    }
    std::lock_guard<std::mutex> lock(loginLock_);
    if (attempt != loginAttempt_) return;
    loginResult_ = ok;
    loginWhy_ = why;
    loginDone_.notify_all();
}

void VoiceSession::OnServerSync(std::uint32_t session, std::uint32_t maxBandwidth) {
    bool reconnected = attempt_ == 0;
    QM_LOG(kLogSource) << "<qm_nim> " << (reconnected ? "reconnected" : "logged in") << " to "
                       << options_.server.host << ":" << options_.server.port << " as session " << session;
    state_ = State::Online;
    ownSession_.store(session);
    maxBandwidth_.store(maxBandwidth);
    {
        std::lock_guard<std::mutex> lock(rosterLock_);
        const User* self = roster_.FindUser(session);
        ownChannel_ = self ? self->channel : 0;
    }
    online_.store(true);
    backoff_.Online(Clock::now());
    lastPing_ = Clock::now();
    nextPing_ = lastPing_ + transport_->PingInterval();
    everOnline_ = true;
    if (!reconnected) FinishLogin(true, {});
    attempt_ = 0;
    listener_->OnOnline(maxBandwidth, reconnected);
    if (selfMute_) {
        proto::UserStateMsg m;
        m.session = session;
        m.selfMute = true;
        SendMessage(static_cast<int>(MessageType::UserState), m.Encode());
    }
    if (reconnected && !wantedRoom_.empty()) {
        joinPending_ = true;
        joinRejoin_ = true;
        createSent_ = false;
        moveTarget_ = 0;
        joinDeadline_ = Clock::now() + options_.joinTimeout;
    }
    AdvanceJoin();
    listener_->OnMembersChanged();
}

template <class Message>
void VoiceSession::ApplyToRoster(const Message& message) {
    std::lock_guard<std::mutex> lock(rosterLock_);
    roster_.Apply(message);
}

void VoiceSession::OnFrame(std::uint16_t type, std::string_view payload) {
    switch (static_cast<MessageType>(type)) {
    case MessageType::UDPTunnel:
        VoiceIn(payload);
        return;
    case MessageType::CryptSetup:
        transport_->OnCryptSetup(payload, Clock::now());
        return;
    case MessageType::Ping: {
        proto::PingMsg reply;
        if (!reply.Decode(payload)) return;
        transport_->OnPingReply(reply, Clock::now());
        if (transport_->lossPercent() != reportedLoss_) {
            reportedLoss_ = transport_->lossPercent();
            listener_->OnPathLoss(reportedLoss_);
        }
        return;
    }
    case MessageType::Reject: {
        proto::RejectMsg reject;
        reject.Decode(payload);
        std::string why = "the server refused the login: " + RejectText(reject);
        QM_LOG(kLogSource) << "<qm_nim> " << PageTextForLog(why);
        if (attempt_) FinishLogin(false, why);
        Drop(why, attempt_ == 0);
        return;
    }
    case MessageType::ServerSync: {
        proto::ServerSyncMsg sync;
        if (!sync.Decode(payload) || !sync.session) {
            Drop("the server sent a broken ServerSync", true);
            return;
        }
        if (state_ == State::Authenticating) OnServerSync(*sync.session, sync.maxBandwidth.value_or(0));
        return;
    }
    case MessageType::ServerConfig: {
        proto::ServerConfigMsg config;
        if (config.Decode(payload) && config.maxBandwidth) maxBandwidth_.store(*config.maxBandwidth);
        return;
    }
    case MessageType::ChannelState: {
        proto::ChannelStateMsg m;
        if (!m.Decode(payload)) return;
        ApplyToRoster(m);
        AdvanceJoin();
        return;
    }
    case MessageType::ChannelRemove: {
        proto::ChannelRemoveMsg m;
        if (!m.Decode(payload)) return;
        ApplyToRoster(m);
        if (joinPending_ && m.channelId && *m.channelId == moveTarget_) {
            moveTarget_ = 0;  // gone before we got in: make it again
            createSent_ = false;
        }
        AdvanceJoin();
        return;
    }
    case MessageType::UserState: {
        proto::UserStateMsg m;
        if (!m.Decode(payload)) return;
        {
            std::lock_guard<std::mutex> lock(rosterLock_);
            roster_.Apply(m);
            if (m.session && *m.session == ownSession_.load() && m.channelId) {
                ownChannel_ = *m.channelId;
                leaveInFlight_ = false;  // the server applies a client's requests in order
            }
        }
        if (state_ == State::Online) {
            AdvanceJoin();
            listener_->OnMembersChanged();
        }
        return;
    }
    case MessageType::UserRemove: {
        proto::UserRemoveMsg m;
        if (!m.Decode(payload)) return;
        if (m.session && *m.session == ownSession_.load() && state_ == State::Online) {
            // Kicked (or the same name logged in elsewhere): no way back on our own.
            wantConnection_ = false;
            Drop("removed by the server" + (m.reason.empty() ? std::string() : ": " + ServerText(m.reason)), false);
            return;
        }
        ApplyToRoster(m);
        if (state_ == State::Online) listener_->OnMembersChanged();
        return;
    }
    case MessageType::PermissionDenied: {
        proto::PermissionDeniedMsg m;
        if (!m.Decode(payload) || !joinPending_) return;
        auto type = static_cast<proto::DenyType>(m.type.value_or(1));
        if (type == proto::DenyType::ChannelName && createSent_) {
            // Someone made the same room a moment before us: the server told us
            // of that channel before it refused ours, and AdvanceJoin has moved
            // us in. Without such a channel the name itself was refused.
            bool exists;
            {
                std::lock_guard<std::mutex> lock(rosterLock_);
                exists = roster_.FindChild(0, proto::ChannelNameForRoom(wantedRoom_)).has_value();
            }
            if (exists) return;
        }
        FinishJoin(kJoinRefused, DenyText(m));
        return;
    }
    default:
        return;  // Version, CodecVersion, PermissionQuery, ...
    }
}

void VoiceSession::VoiceIn(std::string_view packet) {
    if (state_ != State::Online) return;
    proto::ReceivedVoice voice;
    if (!proto::ParseServerVoice(packet, voice) || voice.session == ownSession_.load()) return;
    {
        // Only the people in the user's room are heard: a server (or anyone
        // who can inject into the path) cannot make up speakers.
        std::lock_guard<std::mutex> lock(rosterLock_);
        if (ownChannel_ == 0) return;
        const User* speaker = roster_.FindUser(voice.session);
        if (!speaker || speaker->channel != ownChannel_) return;
    }
    listener_->OnVoice(voice);
}

void VoiceSession::SendControl(proto::MessageType type, const std::string& payload) {
    SendMessage(static_cast<int>(type), payload);
}

bool VoiceSession::SendTunnelled(std::string_view packet) {
    if (!link_ || !link_->connected() || link_->stalled() || link_->backlogBytes() > kMaxTunnelBacklog) return false;
    link_->Send(MessageType::UDPTunnel, packet);
    return true;
}

void VoiceSession::AdvanceJoin() {
    if (!joinPending_ || state_ != State::Online) return;
    std::string name = proto::ChannelNameForRoom(wantedRoom_);
    JoinStep step;
    {
        std::lock_guard<std::mutex> lock(rosterLock_);
        step = NextJoinStep(roster_, name, leaveInFlight_ ? 0 : ownChannel_, moveTarget_, createSent_);
    }
    switch (step.kind) {
    case JoinStep::Joined:
        FinishJoin(kJoinOk, {});
        break;
    case JoinStep::Move: {
        proto::UserStateMsg move;
        move.session = ownSession_.load();
        move.channelId = step.channel;
        SendMessage(static_cast<int>(MessageType::UserState), move.Encode());
        moveTarget_ = step.channel;
        break;
    }
    case JoinStep::Create: {
        proto::ChannelStateMsg create;
        create.parent = 0;
        create.name = name;
        create.temporary = true;
        SendMessage(static_cast<int>(MessageType::ChannelState), create.Encode());
        createSent_ = true;
        break;
    }
    case JoinStep::Wait:
        break;
    }
}

void VoiceSession::FinishJoin(int code, const std::string& reason) {
    if (!joinPending_) return;
    joinPending_ = false;
    if (code != kJoinOk)
        QM_LOG(kLogSource) << "<qm_nim> joining a room failed (" << code << "): " << PageTextForLog(reason);
    JoinResult r;
    r.code = code;
    r.roomId = wantedRoom_;
    r.reason = reason;
    r.rejoin = joinRejoin_;
    {
        std::lock_guard<std::mutex> lock(rosterLock_);
        r.channelId = code == kJoinOk ? ownChannel_ : 0;
    }
    if (code != kJoinOk && !joinRejoin_) wantedRoom_.clear();
    listener_->OnJoin(r);
}

}  // namespace qmnim::session
