// What the voice session builds from a server's control stream, with
// whatever the server sends: floods of ChannelState and UserState, removals,
// voice from sessions never announced. The frames go through the roster, the
// join's next step and the members the page gets, as the session drives
// them; the first byte picks the room being joined.
#include <json/writer.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/room_name.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "outside/qm_nim/session/join_step.h"
#include "outside/qm_nim/session/room_members.h"
#include "outside/qm_nim/session/roster.h"

using namespace qmnim;

namespace {

struct Session {
    session::Roster roster;
    std::uint32_t self = 0;
    std::uint32_t own = 0;
    std::string room;
    std::uint32_t moveTarget = 0;
    bool createSent = false;
    std::vector<std::uint32_t> talking;
    size_t frames = 0;
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void AdvanceJoin(Session& s) {
    session::JoinStep step = session::NextJoinStep(s.roster, s.room, s.own, s.moveTarget, s.createSent);
    switch (step.kind) {
    case session::JoinStep::Joined:
        Check(s.roster.FindChild(0, s.room) == s.own);
        break;
    case session::JoinStep::Move: {
        const session::Channel* c = s.roster.FindChannel(step.channel);
        Check(c && c->parent == 0 && c->name == s.room && step.channel != s.own);
        s.moveTarget = step.channel;
        break;
    }
    case session::JoinStep::Create:
        Check(!s.createSent && !s.roster.FindChild(0, s.room));
        s.createSent = true;
        break;
    case session::JoinStep::Wait:
        break;
    }
}

void CheckMembers(const Session& s) {
    session::RoomView view = session::ViewOfRoom(s.roster, s.own, s.self, s.talking);
    Check(view.listed.size() <= session::kMaxListedMembers);
    Check(view.count == (s.own ? s.roster.CountIn(s.own) : 0));
    std::set<std::uint32_t> seen;
    for (const session::User& u : view.listed) {
        Check(u.channel == s.own && seen.insert(u.session).second);
        Check(u.name.size() <= session::Roster::kMaxNameBytes);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    Check(Json::writeString(writer, session::RoomMembersJson(view, s.talking, true)).size() < 256 * 1024);
}

void OnFrame(Session& s, std::uint16_t type, std::string_view payload) {
    switch (static_cast<proto::MessageType>(type)) {
    case proto::MessageType::ServerSync: {
        proto::ServerSyncMsg m;
        if (m.Decode(payload) && m.session) s.self = *m.session;
        break;
    }
    case proto::MessageType::ChannelState: {
        proto::ChannelStateMsg m;
        if (!m.Decode(payload)) return;
        s.roster.Apply(m);
        AdvanceJoin(s);
        break;
    }
    case proto::MessageType::ChannelRemove: {
        proto::ChannelRemoveMsg m;
        if (!m.Decode(payload)) return;
        s.roster.Apply(m);
        if (m.channelId && *m.channelId == s.moveTarget) {
            s.moveTarget = 0;
            s.createSent = false;
        }
        AdvanceJoin(s);
        break;
    }
    case proto::MessageType::UserState: {
        proto::UserStateMsg m;
        if (!m.Decode(payload)) return;
        s.roster.Apply(m);
        if (m.session && *m.session == s.self && m.channelId) s.own = *m.channelId;
        AdvanceJoin(s);
        break;
    }
    case proto::MessageType::UserRemove: {
        proto::UserRemoveMsg m;
        if (!m.Decode(payload)) return;
        s.roster.Apply(m);
        break;
    }
    case proto::MessageType::UDPTunnel: {
        // Voice counts only from someone in the user's room; anyone else's is dropped.
        proto::ReceivedVoice v;
        if (!proto::ParseServerVoice(payload, v) || v.session == s.self) return;
        const session::User* u = s.roster.FindUser(v.session);
        if (!u || s.own == 0 || u->channel != s.own) return;
        if (s.talking.size() < 64) s.talking.push_back(v.session);
        break;
    }
    default:
        return;
    }
    // The members are checked now and then: building them after every one of
    // a flood's frames would only slow the search.
    if (++s.frames % 32 == 0) CheckMembers(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kRooms[] = {"1001", "c1", "room/1", "\xD8\xBA\xD8\xB1\xD9\x81\xD8\xA9"};
    Session s;
    s.room = proto::ChannelNameForRoom(kRooms[data[0] % 4]);
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    proto::FrameParser frames;
    for (size_t at = 0; at < input.size();) {
        size_t piece = 1 + (static_cast<unsigned char>(input[at]) % 251);
        if (!frames.Feed(input.substr(at, piece))) break;
        at += piece;
        std::uint16_t type;
        std::string_view payload;
        while (frames.Next(type, payload)) OnFrame(s, type, payload);
    }
    CheckMembers(s);
    return 0;
}
