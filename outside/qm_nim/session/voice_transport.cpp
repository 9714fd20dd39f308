#include "outside/qm_nim/session/voice_transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/log_record.h"
#include "outside/qm_nim/net/crypt_state.h"
#include "outside/qm_nim/net/udp_link.h"
#include "outside/qm_nim/proto/voice_packet.h"

namespace qmnim::session {
namespace {

using namespace std::chrono_literals;
constexpr const char kLogSource[] = "qm_nim\\VoiceTransport";

// Datagram pings: every 2 s while replies come; every 0.5 s while one is
// missing or the path is being tried. A path whose pings stay unanswered
// for 4 s is taken for lost: voice goes both ways until it answers again,
// for at most 20 s, then through the connection alone.
constexpr auto kPingSteady = 2000ms;
constexpr auto kPingProbe = 500ms;
constexpr auto kReplyOverdue = 2500ms;
constexpr auto kPathLostAfter = 4000ms;
constexpr auto kBothAtMost = 20s;
constexpr auto kProbeFirst = 10s;  // after the key, before settling for the tunnel
// Lost this much longer, the server is told to send by the connection.
constexpr auto kTellServerAfter = 2s;
// The control connection: pinged seldom while datagrams prove the server
// alive (the server's own idle limit is 30 s), often while it carries voice.
constexpr auto kConnectionPingQuiet = 10s;
constexpr auto kConnectionPingBusy = 2s;
// Asking the server for its nonce again when its datagrams stop opening.
constexpr auto kResyncAfter = 2s;
constexpr auto kResyncAtMostEvery = 5s;
constexpr std::uint32_t kResyncFailures = 3;
// Loss estimates need this many datagrams between two looks.
constexpr std::uint32_t kLossSample = 20;
constexpr int kMaxReadsPerWake = 256;

const char* Name(VoiceTransport::Path p) {
    switch (p) {
    case VoiceTransport::Path::Tunnel: return "the control connection";
    case VoiceTransport::Path::Udp: return "datagrams";
    case VoiceTransport::Path::Both: return "datagrams and the control connection";
    }
    return "?";
}

std::uint64_t MsSince(VoiceTransport::Clock::time_point start, VoiceTransport::Clock::time_point now) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count());
}

}  // namespace

VoiceTransport::VoiceTransport(Host& host)
    : host_(host), crypt_(std::make_unique<net::CryptState>()), udp_(std::make_unique<net::UdpLink>()) {}

VoiceTransport::~VoiceTransport() = default;

void VoiceTransport::OnOwnThread(const char* function) const {
#ifndef NDEBUG
    if (std::this_thread::get_id() == owner_) return;
    std::fprintf(stderr, "VoiceTransport::%s runs off the session thread\n", function);
    std::abort();
#else
    (void)function;
#endif
}

void VoiceTransport::Start(int tcpFd, Clock::time_point now) {
    OnOwnThread("Start");
    Stop();
    tcpFd_ = tcpFd;
    started_ = now;
}

void VoiceTransport::Stop() {
    OnOwnThread("Stop");
    udp_->Close();
    crypt_->Reset();
    tcpFd_ = -1;
    path_ = Path::Tunnel;
    everConfirmed_ = false;
    toldTunnel_ = false;
    lastPong_ = lastDatagram_ = lostSince_ = nextPing_ = lastResyncAsk_ = Clock::time_point{};
    failedSinceGood_ = 0;
    udpSent_ = tcpSent_ = 0;
    upGood_ = upLost_ = downGood_ = downLost_ = 0;
    upShare_ = downShare_ = 0;
    lossPercent_ = 0;
}

int VoiceTransport::fd() const { return udp_->fd(); }

void VoiceTransport::OnCryptSetup(std::string_view payload, Clock::time_point now) {
    OnOwnThread("OnCryptSetup");
    proto::CryptSetupMsg m;
    if (!m.Decode(payload)) return;
    if (m.key && m.clientNonce && m.serverNonce) {
        if (!crypt_->SetKey(*m.key, *m.clientNonce, *m.serverNonce)) {
            QM_LOG(kLogSource) << "<qm_nim> the server's voice key is unusable: voice goes through the connection";
            return;
        }
        if (!udp_->open()) {
            std::string error;
            if (!udp_->Open(tcpFd_, error)) {
                QM_LOG(kLogSource) << "<qm_nim> " << error << ": voice goes through the connection";
                crypt_->Reset();
                return;
            }
        }
        // A new key starts the path's trial again.
        SetPath(Path::Tunnel, now);
        everConfirmed_ = false;
        started_ = now;
        nextPing_ = now;
        return;
    }
    if (!crypt_->ready()) return;
    if (m.serverNonce) {
        // The answer to our resync request.
        if (crypt_->SetDecryptNonce(*m.serverNonce)) crypt_->CountResync();
        failedSinceGood_ = 0;
        return;
    }
    if (!m.key && !m.clientNonce) {
        // The server lost track of our nonce: tell it.
        proto::CryptSetupMsg answer;
        answer.clientNonce = crypt_->encryptNonce();
        host_.SendControl(proto::MessageType::CryptSetup, answer.Encode());
    }
}

void VoiceTransport::UpdateLoss(std::uint32_t good, std::uint32_t lost, std::uint32_t& lastGood,
                                std::uint32_t& lastLost, double& share) {
    if (good < lastGood || lost < lastLost) {  // counts started again
        lastGood = good;
        lastLost = lost;
        return;
    }
    std::uint32_t dGood = good - lastGood, dLost = lost - lastLost;
    if (dGood + dLost < kLossSample) return;
    double now = double(dLost) / double(dGood + dLost);
    share = share * 0.5 + now * 0.5;
    lastGood = good;
    lastLost = lost;
}

void VoiceTransport::OnPingReply(const proto::PingMsg& reply, Clock::time_point) {
    OnOwnThread("OnPingReply");
    if (!crypt_->ready()) return;
    if (reply.good) UpdateLoss(*reply.good, reply.lost.value_or(0), upGood_, upLost_, upShare_);
    UpdateLoss(crypt_->stats().good, crypt_->stats().lost, downGood_, downLost_, downShare_);
    double worst = std::max(upShare_, downShare_);
    lossPercent_ = path_ == Path::Tunnel ? 0 : std::clamp(static_cast<int>(std::lround(worst * 100)), 0, 100);
}

proto::PingMsg VoiceTransport::MakePing(std::uint64_t timestamp) const {
    proto::PingMsg ping;
    ping.timestamp = timestamp;
    if (crypt_->ready()) {
        const net::CryptState::Stats& s = crypt_->stats();
        ping.good = s.good;
        ping.late = s.late;
        ping.lost = s.lost;
        ping.resync = s.resync;
    }
    ping.udpPackets = udpSent_;
    ping.tcpPackets = tcpSent_;
    return ping;
}

std::chrono::milliseconds VoiceTransport::PingInterval() const {
    return path_ == Path::Udp ? std::chrono::milliseconds(kConnectionPingQuiet)
                              : std::chrono::milliseconds(kConnectionPingBusy);
}

void VoiceTransport::SetPath(Path path, Clock::time_point now) {
    if (path == path_) return;
    if (everConfirmed_ || path == Path::Udp)
        QM_LOG(kLogSource) << "<qm_nim> voice now goes by " << Name(path);
    if (path == Path::Both) lostSince_ = now;
    if (path == Path::Tunnel) lossPercent_ = 0;
    path_ = path;
}

void VoiceTransport::SendVoice(std::string_view packet, Clock::time_point) {
    OnOwnThread("SendVoice");
    bool datagram = path_ != Path::Tunnel && crypt_->ready() && udp_->open();
    if (datagram) {
        std::string sealed;
        if (crypt_->Encrypt(packet, sealed) && udp_->Send(sealed)) {
            ++udpSent_;
            if (path_ == Path::Udp) toldTunnel_ = false;  // this brings the server back itself
        }
    }
    if (!datagram || path_ == Path::Both) {
        if (host_.SendTunnelled(packet)) {
            ++tcpSent_;
            toldTunnel_ = true;
        }
    }
}

void VoiceTransport::SendPing(Clock::time_point now) {
    std::string sealed;
    // Milliseconds since the connection began: a short number to send.
    std::string ping = proto::BuildUdpPing(MsSince(started_, now));
    if (crypt_->Encrypt(ping, sealed)) udp_->Send(sealed);
    // While datagrams do not come back, the same ping goes through the
    // connection too: the server sends a client its voice by the path the
    // client's voice (or anything in the tunnel) came by last, and would go
    // on sending datagrams that are lost. Not at once: a short outage heals
    // by itself, and anything in the tunnel keeps the server on the
    // connection until voice comes by datagram again (see Reclaim).
    bool tell = path_ == Path::Tunnel ? everConfirmed_ || now - started_ >= kTellServerAfter
                                      : path_ == Path::Both && now - lostSince_ >= kTellServerAfter;
    if (tell && host_.SendTunnelled(ping)) toldTunnel_ = true;
}

void VoiceTransport::Reclaim() {
    // The server still sends by the connection what it sent there last: a
    // silent loopback packet by datagram brings it back (a talking user's
    // next packet would, a listener has none).
    if (!toldTunnel_) return;
    std::string sealed;
    if (crypt_->Encrypt(proto::BuildLoopbackMark(), sealed) && udp_->Send(sealed)) toldTunnel_ = false;
}

void VoiceTransport::OnReadable(Clock::time_point now) {
    OnOwnThread("OnReadable");
    if (!udp_->open()) return;
    std::string datagram, plain;
    for (int i = 0; i < kMaxReadsPerWake && udp_->Receive(datagram); ++i) {
        if (!crypt_->Decrypt(datagram, plain)) {
            ++failedSinceGood_;
            if (failedSinceGood_ >= kResyncFailures && now - crypt_->lastGood() > kResyncAfter &&
                (lastResyncAsk_ == Clock::time_point{} || now - lastResyncAsk_ > kResyncAtMostEvery)) {
                // The server's datagrams stopped opening: ask for its nonce.
                lastResyncAsk_ = now;
                host_.SendControl(proto::MessageType::CryptSetup, proto::CryptSetupMsg().Encode());
            }
            continue;
        }
        failedSinceGood_ = 0;
        lastDatagram_ = now;
        std::uint64_t timestamp;
        if (proto::ParseUdpPing(plain, timestamp)) {
            lastPong_ = now;
            everConfirmed_ = true;
            if (path_ != Path::Udp) {
                SetPath(Path::Udp, now);
                nextPing_ = now + kPingSteady;
                Reclaim();
            }
            continue;
        }
        host_.DatagramVoice(plain);
    }
}

VoiceTransport::Clock::time_point VoiceTransport::Tick(Clock::time_point now) {
    OnOwnThread("Tick");
    if (!crypt_->ready() || !udp_->open()) return now + 1h;
    auto replyAge = now - lastPong_;
    if (path_ == Path::Udp && replyAge > kPathLostAfter) SetPath(Path::Both, now);
    if (path_ == Path::Both && now - lostSince_ > kBothAtMost) SetPath(Path::Tunnel, now);

    Clock::duration cadence = kPingSteady;
    if (path_ == Path::Both || (path_ == Path::Udp && replyAge > kReplyOverdue) ||
        (path_ == Path::Tunnel && !everConfirmed_ && now - started_ < kProbeFirst))
        cadence = kPingProbe;
    if (now >= nextPing_) {
        SendPing(now);
        nextPing_ = now + cadence;
    } else if (nextPing_ > now + cadence) {
        nextPing_ = now + cadence;  // a reply went missing: ask sooner
    }
    Clock::time_point next = nextPing_;
    auto also = [&](Clock::time_point t) {
        if (t > now) next = std::min(next, t);
    };
    if (path_ == Path::Udp) {
        also(lastPong_ + kReplyOverdue);
        also(lastPong_ + kPathLostAfter);
    }
    if (path_ == Path::Both) also(lostSince_ + kBothAtMost);
    return next;
}

}  // namespace qmnim::session
