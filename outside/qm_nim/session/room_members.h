// The room as the page sees it: who is in the user's channel, muted,
// deafened, talking. A server's room may hold thousands (a hostile one
// claims 100,000): the page gets the count and at most kMaxListedMembers of
// them, the user and whoever talks first, and no more than their names fit
// into kMaxMembersBytes as JSON text however it is escaped, so one message
// stays well below what a page call may carry (256 KiB).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "outside/qm_nim/session/roster.h"

namespace qmnim::session {

constexpr size_t kMaxListedMembers = 500;
constexpr size_t kMaxMembersBytes = 128 * 1024;

// How many bytes `text` takes as a JSON string at most: with every character
// beyond ASCII and every control byte written as \uXXXX, as some writers do.
size_t JsonStringBound(const std::string& text);

// Members taken into one message until their texts would pass kMaxMembersBytes.
class MembersBudget {
public:
    // Whether a member named `name` still fits; counts it when it does.
    bool Take(const std::string& name);

private:
    size_t used_ = 0;
};

struct RoomView {
    std::string roomId;          // "" outside a room
    std::uint32_t channelId = 0; // 0 outside a room
    std::uint32_t self = 0;      // the user's own session
    size_t count = 0;            // everyone in the channel, the user included
    std::vector<User> listed;    // the user, then who talks, then the rest by session
};

// The view of `channel` (0: not in a room) for the user `self`, listing the
// sessions in `talking` (when in the channel) right after the user.
RoomView ViewOfRoom(const Roster& roster, std::uint32_t channel, std::uint32_t self,
                    const std::vector<std::uint32_t>& talking, size_t maxListed = kMaxListedMembers);

// {"room_id","channelId","count","truncated","members":[{"session","uid",
// "muted","deafened","talking"[,"self":true]}]}; `talking` and `selfTalking`
// say who talks now.
Json::Value RoomMembersJson(const RoomView& view, const std::vector<std::uint32_t>& talking, bool selfTalking);

}  // namespace qmnim::session
