// What a big server costs the voice module without any network: the roster
// filled with 100,000 channels and a 100,000-member room, finding a channel by
// name among 100,000 siblings, and the members event the page gets from that
// room next to a list naming everyone (what a level event used to carry).
#include <json/value.h>
#include <json/writer.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "outside/qm_nim/session/room_members.h"
#include "outside/qm_nim/session/roster.h"

namespace {

using namespace qmnim;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCount = 100000;
constexpr std::uint32_t kRoomChannel = 2;  // "channel 2", where everyone is

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Write(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, v);
}

// The whole room as one list, as a level event named everyone before.
std::string EveryoneJson(const session::Roster& roster) {
    Json::Value members(Json::arrayValue);
    for (const session::User& u : roster.UsersIn(kRoomChannel)) {
        Json::Value m(Json::objectValue);
        m["uid"] = u.name;
        m["session"] = u.session;
        m["volumn"] = 0;
        m["speaking"] = false;
        members.append(m);
    }
    Json::Value v(Json::objectValue);
    v["members"] = members;
    return Write(v);
}

}  // namespace

int main() {
    session::Roster roster;
    Clock::time_point start = Clock::now();
    for (std::uint32_t id = 1; id <= kCount; ++id) {
        proto::ChannelStateMsg c;
        c.channelId = id;
        c.parent = 0;
        c.name = "channel " + std::to_string(id);
        roster.Apply(c);
    }
    double channelsMs = MsSince(start);

    start = Clock::now();
    for (std::uint32_t s = 1; s <= kCount; ++s) {
        proto::UserStateMsg u;
        u.session = s;
        u.channelId = kRoomChannel;
        u.name = "member number " + std::to_string(s);
        roster.Apply(u);
    }
    double usersMs = MsSince(start);

    constexpr int kLookups = 10000;
    std::uint32_t found = 0;
    start = Clock::now();
    for (int i = 0; i < kLookups; ++i) {
        std::uint32_t id = 1 + static_cast<std::uint32_t>(i * 7919) % kCount;
        if (roster.FindChild(0, "channel " + std::to_string(id))) ++found;
    }
    double lookupUs = MsSince(start) * 1000 / kLookups;

    std::vector<std::uint32_t> talking = {17, 4242, 99999};
    constexpr int kRounds = 20;
    std::vector<double> membersMs;
    size_t membersBytes = 0;
    for (int i = 0; i < kRounds; ++i) {
        start = Clock::now();
        session::RoomView view = session::ViewOfRoom(roster, kRoomChannel, 50000, talking);
        membersBytes = Write(session::RoomMembersJson(view, talking, false)).size();
        membersMs.push_back(MsSince(start));
    }
    start = Clock::now();
    size_t everyoneBytes = EveryoneJson(roster).size();
    double everyoneMs = MsSince(start);

    qmbench::Summary members = qmbench::Summarise(membersMs);
    std::printf("roster: %u channels in %.0f ms, %u members of one room in %.0f ms\n", kCount, channelsMs, kCount,
                usersMs);
    std::printf("a channel by name among %u siblings: %.2f us (%u of %d found)\n", kCount, lookupUs, found, kLookups);
    std::printf("members event of a %u-member room: %zu bytes in %.2f ms (median of %d)\n", kCount, membersBytes,
                members.median, kRounds);
    std::printf("a list naming all %u: %zu bytes in %.0f ms\n", kCount, everyoneBytes, everyoneMs);
    qmbench::Figure("voice_room_100k_channels_ms", channelsMs);
    qmbench::Figure("voice_room_find_channel_us", lookupUs);
    qmbench::Figure("voice_room_members_event_bytes", double(membersBytes));
    qmbench::Figure("voice_room_members_event_ms", members);
    qmbench::Figure("voice_room_everyone_list_bytes", double(everyoneBytes));
    return found == kLookups ? 0 : 1;
}
