// Room ids as channel names. The server accepts channel names made of word
// characters and " -=#[]{}()@|" only; a room id made of those is the channel's
// name exactly. Any other id (and any id starting with the marker "==") is
// encoded as "==" followed by its bytes, with every byte outside [A-Za-z0-9_-]
// written as "=XX" (upper-case hex). Encoded names always start with "==" and
// plain ones never do, so the mapping is one to one and reversible.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmnim::proto {

// Whether the server's default channel-name rule surely accepts `name`
// (non-ASCII text counts only where it is plainly letters).
bool IsPlainChannelName(std::string_view name);
std::string ChannelNameForRoom(std::string_view roomId);
// The room id a channel name stands for; nullopt for a broken encoding.
std::optional<std::string> RoomForChannelName(std::string_view name);

}  // namespace qmnim::proto
