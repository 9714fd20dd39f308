#include "outside/qm_nim/session/room_members.h"

#include <algorithm>

#include "outside/qm_nim/proto/room_name.h"

namespace qmnim::session {

size_t JsonStringBound(const std::string& text) {
    size_t bytes = 2;  // the quotes
    for (unsigned char c : text) {
        if (c < 0x20) bytes += 6;                   // \u00XX
        else if (c == '"' || c == '\\') bytes += 2;
        else if (c < 0x80) bytes += 1;
        else if (c >= 0xF0) bytes += 12;            // a surrogate pair, \uXXXX\uXXXX
        else if (c >= 0xC0) bytes += 6;             // the lead byte stands for the character
        // continuation bytes: counted with their lead byte
    }
    return bytes;
}

bool MembersBudget::Take(const std::string& name) {
    // The member's other fields and punctuation take less than this.
    constexpr size_t kPerMember = 96;
    size_t cost = JsonStringBound(name) + kPerMember;
    if (used_ + cost > kMaxMembersBytes) return false;
    used_ += cost;
    return true;
}

RoomView ViewOfRoom(const Roster& roster, std::uint32_t channel, std::uint32_t self,
                    const std::vector<std::uint32_t>& talking, size_t maxListed) {
    RoomView view;
    view.self = self;
    if (channel == 0) return view;
    if (const Channel* c = roster.FindChannel(channel)) view.roomId = proto::RoomForChannelName(c->name).value_or(c->name);
    view.channelId = channel;
    view.count = roster.CountIn(channel);
    std::vector<std::uint32_t> first;
    first.reserve(talking.size() + 1);
    first.push_back(self);
    first.insert(first.end(), talking.begin(), talking.end());
    view.listed = roster.ListIn(channel, first, maxListed);
    return view;
}

Json::Value RoomMembersJson(const RoomView& view, const std::vector<std::uint32_t>& talking, bool selfTalking) {
    Json::Value v(Json::objectValue);
    v["room_id"] = view.roomId;
    v["channelId"] = Json::UInt64(view.channelId);
    v["count"] = Json::UInt64(view.count);
    Json::Value members(Json::arrayValue);
    MembersBudget budget;
    for (const User& u : view.listed) {
        if (!budget.Take(u.name)) break;
        Json::Value m(Json::objectValue);
        bool isSelf = u.session == view.self;
        m["session"] = u.session;
        m["uid"] = u.name;
        m["muted"] = u.muted();
        m["deafened"] = u.deafened();
        m["talking"] = isSelf ? selfTalking : std::find(talking.begin(), talking.end(), u.session) != talking.end();
        if (isSelf) m["self"] = true;
        members.append(m);
    }
    v["truncated"] = members.size() < view.count;
    v["members"] = members;
    return v;
}

}  // namespace qmnim::session
