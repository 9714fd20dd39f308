#include "outside/qm_nim/session/room_members.h"

#include <algorithm>

#include "outside/qm_nim/proto/room_name.h"

namespace qmnim::session {

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
    v["truncated"] = view.listed.size() < view.count;
    Json::Value members(Json::arrayValue);
    for (const User& u : view.listed) {
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
    v["members"] = members;
    return v;
}

}  // namespace qmnim::session
