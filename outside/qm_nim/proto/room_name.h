// Room ids as channel names. The server accepts channel names made of word
// characters (letters, numbers and marks of any script in the Basic
// Multilingual Plane, and "_") and " -=#[]{}()@|" only; a room id made of
// those is the channel's name exactly, so a room named in Arabic, Thai or
// Devanagari meets the channel that other clients made under that name. Any other id (and any id starting with the marker "==") is
// encoded as "==" followed by its bytes, with every byte outside [A-Za-z0-9_-]
// written as "=XX" (upper-case hex). Encoded names always start with "==" and
// plain ones never do, so the mapping is one to one and reversible.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmnim::proto {

// Whether the server's default channel-name rule accepts `name` (valid UTF-8
// made of word characters and the rule's punctuation).
bool IsPlainChannelName(std::string_view name);
std::string ChannelNameForRoom(std::string_view roomId);
// The room id a channel name stands for; nullopt for a broken encoding.
std::optional<std::string> RoomForChannelName(std::string_view name);

}  // namespace qmnim::proto
