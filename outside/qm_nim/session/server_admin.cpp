#include "outside/qm_nim/session/server_admin.h"

#include <poll.h>

#include <functional>

#include "outside/qm_nim/net/tls_link.h"
#include "outside/qm_nim/proto/messages.h"

namespace qmnim::session {
namespace {

using Clock = std::chrono::steady_clock;
using proto::MessageType;

// Reads frames until `done` says so; false when the connection broke or time ran out.
bool ReadUntil(net::TlsLink& link, proto::FrameParser& frames, Clock::time_point deadline,
               const std::function<bool(std::uint16_t, std::string_view)>& done, std::string& error) {
    bool alive = true;
    for (;;) {
        std::uint16_t type;
        std::string_view payload;
        while (frames.Next(type, payload)) {
            if (done(type, payload)) return true;
            if (!error.empty()) return false;
        }
        if (!alive) {
            error = "the server closed the connection";
            return false;
        }
        if (!link.Flush()) {
            error = "the connection broke";
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            error = "no answer in time";
            return false;
        }
        pollfd p{link.fd(), static_cast<short>(POLLIN | (link.WantsWrite() ? POLLOUT : 0)), 0};
        ::poll(&p, 1, static_cast<int>(left));
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) alive = link.Receive(frames);
    }
}

// Asks for the root channel's access list and reads the answer.
bool QueryRootAcl(net::TlsLink& link, proto::FrameParser& frames, Clock::time_point deadline, proto::AclMsg& acl,
                  std::string& error) {
    proto::AclMsg query;
    query.channelId = 0;
    query.query = true;
    link.Send(MessageType::ACL, query.Encode());
    return ReadUntil(link, frames, deadline, [&](std::uint16_t type, std::string_view payload) {
        if (type == static_cast<std::uint16_t>(MessageType::PermissionDenied)) {
            error = "not allowed to read or change the access list";
            return false;
        }
        return type == static_cast<std::uint16_t>(MessageType::ACL) && acl.Decode(payload) && acl.channelId == 0;
    }, error);
}

}  // namespace

bool GrantTemporaryChannels(const net::ServerEndpoint& server, const std::string& superUserPassword,
                            std::chrono::milliseconds timeout, std::string& error) {
    auto deadline = Clock::now() + timeout;
    net::TlsLink link;
    if (link.Connect(server, nullptr, deadline, -1, nullptr, error) != net::TlsLink::Result::Ok) return false;
    proto::VersionMsg version;
    version.version = proto::kProtocolVersion;
    version.release = "qm voice admin";
    link.Send(MessageType::Version, version.Encode());
    proto::AuthenticateMsg auth;
    auth.username = "SuperUser";
    auth.password = superUserPassword;
    link.Send(MessageType::Authenticate, auth.Encode());
    proto::FrameParser frames;
    bool synced = ReadUntil(link, frames, deadline, [&](std::uint16_t type, std::string_view payload) {
        if (type == static_cast<std::uint16_t>(MessageType::Reject)) {
            proto::RejectMsg reject;
            reject.Decode(payload);
            error = "SuperUser login refused" + (reject.reason.empty() ? std::string() : ": " + reject.reason);
        }
        return type == static_cast<std::uint16_t>(MessageType::ServerSync);
    }, error);
    if (!synced) return false;

    proto::AclMsg acl;
    if (!QueryRootAcl(link, frames, deadline, acl, error)) return false;

    // Only the channel's own groups and entries are sent back; inherited ones come by themselves.
    proto::AclMsg update;
    update.channelId = 0;
    update.inheritAcls = acl.inheritAcls;
    update.groups = acl.groups;
    bool granted = false;
    for (const proto::AclMsg::Entry& e : acl.acls) {
        if (e.inherited) continue;
        update.acls.push_back(e);
        if (e.group == "all" && !e.userId && e.applyHere && e.applySubs) {
            update.acls.back().grant |= proto::kPermMakeTempChannel;
            update.acls.back().deny &= ~proto::kPermMakeTempChannel;
            granted = true;
        }
    }
    if (!granted) {
        proto::AclMsg::Entry e;
        e.group = "all";
        e.grant = proto::kPermMakeTempChannel;
        update.acls.push_back(e);
    }
    link.Send(MessageType::ACL, update.Encode());
    // The server answers nothing on success: ask again and check.
    proto::AclMsg after;
    if (!QueryRootAcl(link, frames, deadline, after, error)) return false;
    for (const proto::AclMsg::Entry& e : after.acls) {
        if (e.group == "all" && (e.grant & proto::kPermMakeTempChannel)) return true;
    }
    error = "the grant did not stay";
    return false;
}

}  // namespace qmnim::session
