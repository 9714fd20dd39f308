// The room as the voice module keeps it, without a server: room names in any
// script, the roster's indexes against a plain walk over it, the members the
// page gets from a big room, the next step of a join, the reconnection waits
// on a clock of the test's own, and the coalescing of members events.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/writer.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "outside/qm_nim/module/event_pump.h"
#include "outside/qm_nim/proto/room_name.h"
#include "outside/qm_nim/session/backoff.h"
#include "outside/qm_nim/session/join_step.h"
#include "outside/qm_nim/session/room_members.h"
#include "outside/qm_nim/session/roster.h"

namespace qmnim {
namespace {

using namespace std::chrono_literals;
using session::Roster;

proto::ChannelStateMsg ChannelMsg(std::uint32_t id, std::optional<std::uint32_t> parent,
                                  std::optional<std::string> name) {
    proto::ChannelStateMsg m;
    m.channelId = id;
    m.parent = parent;
    m.name = std::move(name);
    return m;
}

proto::UserStateMsg UserMsg(std::uint32_t session, std::optional<std::uint32_t> channel,
                            std::optional<std::string> name = std::nullopt) {
    proto::UserStateMsg m;
    m.session = session;
    m.channelId = channel;
    m.name = std::move(name);
    return m;
}

// --- room names --------------------------------------------------------------------------------

TEST(RoomNames, WordsOfEveryScriptAreTheChannelsOwnName) {
    const char* plain[] = {
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7",                          // Arabic "marhaba"
        "\xE0\xB8\xAA\xE0\xB8\xA7\xE0\xB8\xB1\xE0\xB8\xAA\xE0\xB8\x94\xE0\xB8\xB5",  // Thai, with vowel marks
        "\xD7\xA9\xD7\x81\xD6\xB8\xD7\x9C\xD7\x95\xD6\xB9\xD7\x9D",          // Hebrew with points
        "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87",  // Devanagari, virama and matra
        "\xD9\xA1\xD9\xA2\xD9\xA3 (room)",                                    // Arabic-Indic digits
        "caf\xC3\xA9_1",
    };
    for (const char* id : plain) {
        EXPECT_TRUE(proto::IsPlainChannelName(id)) << id;
        EXPECT_EQ(proto::ChannelNameForRoom(id), id);
        EXPECT_EQ(proto::RoomForChannelName(id), std::optional<std::string>(id));
    }
    // What the rule refuses is still encoded, and comes back.
    const char* encoded[] = {
        "\xF0\xA0\x80\x80",            // a CJK letter beyond the BMP: the rule sees two surrogates
        "\xF0\x9F\x98\x80",            // an emoji
        "a\xE2\x80\x8D" "b",           // zero-width joiner (a format character)
        "a\xC2\xA0" "b",               // no-break space
        "\xD8\xA7\xD8\x8C\xD8\xA8",    // Arabic comma between letters
        "room/1",
    };
    for (const char* id : encoded) {
        std::string name = proto::ChannelNameForRoom(id);
        EXPECT_EQ(name.rfind("==", 0), 0u) << id;
        EXPECT_TRUE(proto::IsPlainChannelName(name)) << name;
        EXPECT_EQ(proto::RoomForChannelName(name), std::optional<std::string>(id)) << name;
    }
}

// --- roster --------------------------------------------------------------------------------------

// The same questions answered by walking everything, as the roster did before its indexes.
std::optional<std::uint32_t> FindChildByWalk(const std::map<std::uint32_t, session::Channel>& channels,
                                             std::uint32_t parent, const std::string& name) {
    for (const auto& [id, c] : channels)
        if (id != parent && c.parent == parent && c.name == name) return id;
    return std::nullopt;
}

TEST(Roster, IndexesAgreeWithAWalkThroughRenamesMovesAndRemovals) {
    Roster roster;
    std::map<std::uint32_t, session::Channel> channels;  // what the server said, kept plainly
    std::map<std::uint32_t, std::uint32_t> userChannel;
    std::mt19937 random(7);
    const char* names[] = {"a", "b", "c", "1001"};
    for (int step = 0; step < 20000; ++step) {
        std::uint32_t id = random() % 40;
        switch (random() % 5) {
        case 0: case 1: {  // a channel appears, is renamed or moves
            std::optional<std::uint32_t> parent;
            std::optional<std::string> name;
            if (random() % 2) parent = random() % 4;
            if (random() % 2) name = names[random() % 4];
            roster.Apply(ChannelMsg(id, parent, name));
            session::Channel& c = channels[id];
            c.id = id;
            if (parent) c.parent = *parent;
            if (name) c.name = *name;
            break;
        }
        case 2: {
            proto::ChannelRemoveMsg m;
            m.channelId = id;
            roster.Apply(m);
            channels.erase(id);
            break;
        }
        case 3: {  // a user appears or moves
            std::optional<std::uint32_t> channel;
            if (random() % 3) channel = random() % 8;
            roster.Apply(UserMsg(id, channel, "u" + std::to_string(id)));
            if (channel) userChannel[id] = *channel;
            else userChannel.emplace(id, 0);
            break;
        }
        case 4: {
            proto::UserRemoveMsg m;
            m.session = id;
            roster.Apply(m);
            userChannel.erase(id);
            break;
        }
        }
        std::uint32_t parent = random() % 4;
        const char* name = names[random() % 4];
        ASSERT_EQ(roster.FindChild(parent, name), FindChildByWalk(channels, parent, name)) << "step " << step;
        std::uint32_t channel = random() % 8;
        std::vector<std::uint32_t> expected;
        for (const auto& [s, c] : userChannel)
            if (c == channel) expected.push_back(s);
        std::vector<std::uint32_t> listed;
        for (const session::User& u : roster.UsersIn(channel)) listed.push_back(u.session);
        ASSERT_EQ(listed, expected) << "step " << step;
        ASSERT_EQ(roster.CountIn(channel), expected.size());
    }
}

TEST(Roster, NamesAreCutAtACharacterBoundaryAndStatesAccumulate) {
    Roster roster;
    std::string longName(300, 'x');
    longName.replace(255, 2, "\xC3\xA9");  // a two-byte character across the limit
    roster.Apply(UserMsg(5, 3, longName));
    EXPECT_EQ(roster.FindUser(5)->name, std::string(255, 'x'));
    proto::UserStateMsg m;
    m.session = 5;
    m.selfDeaf = true;
    roster.Apply(m);
    m = proto::UserStateMsg();
    m.session = 5;
    m.suppress = true;
    roster.Apply(m);
    const session::User* u = roster.FindUser(5);
    EXPECT_TRUE(u->muted()) << "suppressed by the server";
    EXPECT_TRUE(u->deafened());
    EXPECT_EQ(u->channel, 3u) << "a state without a channel keeps the user where it was";
}

// --- members for the page ----------------------------------------------------------------------

TEST(RoomMembers, ABigRoomListsTheUserAndTalkersFirstAndStaysSmall) {
    Roster roster;
    roster.Apply(ChannelMsg(9, 0, "big"));
    for (std::uint32_t s = 1; s <= 5000; ++s) roster.Apply(UserMsg(s, 9, std::string(100, 'n') + std::to_string(s)));
    roster.Apply(UserMsg(6000, 2, "elsewhere"));
    std::vector<std::uint32_t> talking = {4999, 6000, 3};  // 6000 is not in the room
    session::RoomView view = session::ViewOfRoom(roster, 9, 2500, talking);
    Json::Value v = session::RoomMembersJson(view, talking, true);
    EXPECT_EQ(v["room_id"].asString(), "big");
    EXPECT_EQ(v["count"].asUInt(), 5000u);
    EXPECT_TRUE(v["truncated"].asBool());
    ASSERT_EQ(v["members"].size(), session::kMaxListedMembers);
    EXPECT_EQ(v["members"][0]["session"].asUInt(), 2500u);
    EXPECT_TRUE(v["members"][0]["self"].asBool());
    EXPECT_TRUE(v["members"][0]["talking"].asBool());
    EXPECT_EQ(v["members"][1]["session"].asUInt(), 4999u);
    EXPECT_TRUE(v["members"][1]["talking"].asBool());
    EXPECT_EQ(v["members"][2]["session"].asUInt(), 3u);
    EXPECT_EQ(v["members"][3]["session"].asUInt(), 1u);
    EXPECT_FALSE(v["members"][3]["talking"].asBool());
    EXPECT_FALSE(v["members"][3].isMember("self"));
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    EXPECT_LT(Json::writeString(writer, v).size(), 256u * 1024) << "what one page call may carry";
}

TEST(RoomMembers, NamesThatGrowWhenEscapedStillFitAPageCall) {
    std::string cyrillic, control, astral;
    for (int i = 0; i < 128; ++i) cyrillic += "\xD0\xB6";
    control.assign(256, '\x01');
    for (int i = 0; i < 64; ++i) astral += "\xF0\x9F\x8E\xB5";
    for (const std::string& name : {cyrillic, control, astral}) {
        Roster roster;
        roster.Apply(ChannelMsg(9, 0, "big"));
        for (std::uint32_t s = 1; s <= 600; ++s) roster.Apply(UserMsg(s, 9, name));
        Json::Value v = session::RoomMembersJson(session::ViewOfRoom(roster, 9, 1, {}), {}, false);
        EXPECT_TRUE(v["truncated"].asBool());
        EXPECT_GT(v["members"].size(), 50u);
        // As the module writes it, and as the core writes it again for the page.
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        EXPECT_LT(Json::writeString(writer, v).size(), 200u * 1024);
        Json::Value reply;
        reply["result"]["data"] = v;
        EXPECT_LT(Json::FastWriter().write(reply).size(), 200u * 1024);
    }
}

TEST(RoomMembers, OutsideARoomTheListIsEmptyAndAnEncodedRoomIsNamedAsThePageAskedFor) {
    Roster roster;
    roster.Apply(ChannelMsg(4, 0, proto::ChannelNameForRoom("room/1")));
    roster.Apply(UserMsg(1, 4, "me"));
    roster.Apply(UserMsg(2, 4, "you"));
    proto::UserStateMsg mute;
    mute.session = 2;
    mute.selfMute = true;
    roster.Apply(mute);
    Json::Value in = session::RoomMembersJson(session::ViewOfRoom(roster, 4, 1, {}), {}, false);
    EXPECT_EQ(in["room_id"].asString(), "room/1");
    EXPECT_EQ(in["channelId"].asUInt(), 4u);
    ASSERT_EQ(in["members"].size(), 2u);
    EXPECT_FALSE(in["truncated"].asBool());
    EXPECT_EQ(in["members"][1]["uid"].asString(), "you");
    EXPECT_TRUE(in["members"][1]["muted"].asBool());
    EXPECT_FALSE(in["members"][1]["deafened"].asBool());
    Json::Value out = session::RoomMembersJson(session::ViewOfRoom(roster, 0, 1, {}), {}, false);
    EXPECT_EQ(out["room_id"].asString(), "");
    EXPECT_EQ(out["count"].asUInt(), 0u);
    EXPECT_EQ(out["members"].size(), 0u);
}

// --- joining -------------------------------------------------------------------------------------

TEST(JoinStep, MakesAMissingRoomOnceMovesOnceAndEndsInside) {
    Roster roster;
    using session::JoinStep;
    EXPECT_EQ(session::NextJoinStep(roster, "r", 0, 0, false).kind, JoinStep::Create);
    EXPECT_EQ(session::NextJoinStep(roster, "r", 0, 0, true).kind, JoinStep::Wait) << "made once";
    roster.Apply(ChannelMsg(12, 0, "r"));
    roster.Apply(ChannelMsg(13, 12, "r"));  // the same name deeper down is another room
    JoinStep move = session::NextJoinStep(roster, "r", 0, 0, true);
    EXPECT_EQ(move.kind, JoinStep::Move);
    EXPECT_EQ(move.channel, 12u);
    EXPECT_EQ(session::NextJoinStep(roster, "r", 0, 12, true).kind, JoinStep::Wait) << "asked once";
    EXPECT_EQ(session::NextJoinStep(roster, "r", 12, 12, true).kind, JoinStep::Joined);
}

// --- reconnecting ------------------------------------------------------------------------------

TEST(Backoff, DoublesToItsCapAndOnlyAStableSessionStartsItOver) {
    session::Backoff backoff(250ms, 8000ms, 30000ms);
    session::Backoff::Clock::time_point t{};  // the test's clock
    std::vector<long> waits;
    for (int i = 0; i < 7; ++i) {
        t = backoff.Failed(t);
        waits.push_back(static_cast<long>(backoff.wait().count()));
    }
    EXPECT_EQ(waits, (std::vector<long>{250, 500, 1000, 2000, 4000, 8000, 8000}));

    // A server that breaks every session right after accepting it: the waits
    // keep growing, though each session came up.
    session::Backoff broken(250ms, 8000ms, 30000ms);
    t = {};
    int attempts = 0;
    auto end = t + 10s;
    while (t < end) {
        ++attempts;
        broken.Online(t);
        t = broken.Failed(t + 10ms);
    }
    EXPECT_LE(attempts, 6) << "reconnections in 10 s";

    // A session that stays up 30 s starts over at the shortest wait; one that
    // stayed 29 s does not.
    backoff.Online(t);
    t = backoff.Failed(t + 29s);
    EXPECT_EQ(backoff.wait(), 8000ms);
    backoff.Online(t);
    backoff.Failed(t + 30s);
    EXPECT_EQ(backoff.wait(), 250ms);
    // A new login by the user does too.
    backoff.Failed(t);
    backoff.Reset();
    backoff.Failed(t);
    EXPECT_EQ(backoff.wait(), 250ms);
}

// --- members events ----------------------------------------------------------------------------

class MembersRecorder : public IXNimCallback {
public:
    bool OnLogin() override { return false; }
    bool OnJoinRoom(const char*) override { return true; }
    void OnEnumDevice(const char*) override {}
    void OnAudioVolumn(const char*) override {}
    void OnStartDevice(int, bool) override {}
    void OnRoomMembers(const char* json) override {
        std::lock_guard<std::mutex> lock(lock_);
        texts_.push_back(json);
        times_.push_back(std::chrono::steady_clock::now());
        changed_.notify_all();
    }
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, timeout, [&] { return !texts_.empty() && texts_.back() == text; });
    }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(lock_);
        return texts_;
    }
    std::vector<std::chrono::steady_clock::time_point> times() {
        std::lock_guard<std::mutex> lock(lock_);
        return times_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
    std::vector<std::chrono::steady_clock::time_point> times_;
};

TEST(EventPump, AFloodOfChangesGivesFewMembersEventsAndNoneTwiceAlike) {
    MembersRecorder recorder;
    std::atomic<int> version{0};
    std::atomic<int> built{0};
    constexpr auto kPeriod = 100ms;
    {
        EventPump pump(&recorder, nullptr, 40ms, [&] {
            ++built;
            return std::optional<std::string>("v" + std::to_string(version.load()));
        }, kPeriod);
        for (int i = 1; i <= 100000; ++i) {
            version = i;
            pump.MembersChanged();
        }
        ASSERT_TRUE(recorder.WaitFor("v100000", 10s)) << "the last state arrives";
        std::vector<std::chrono::steady_clock::time_point> times = recorder.times();
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], kPeriod - 1ms) << "more than one members event in a period";
        EXPECT_LT(built.load(), 1000) << "the text is built per period, not per change";

        // A change that changes nothing sends nothing.
        size_t sent = recorder.texts().size();
        pump.MembersChanged();
        std::this_thread::sleep_for(3 * kPeriod);  // time for what must not happen to show
        EXPECT_EQ(recorder.texts().size(), sent);
        version = 7;
        pump.MembersChanged();
        EXPECT_TRUE(recorder.WaitFor("v7", 10s));
    }
}

}  // namespace
}  // namespace qmnim
