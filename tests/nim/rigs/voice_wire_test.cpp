// The rigs' own wire encoder against the module's parser: if the two
// disagreed, every scripted frame would test something else than it says.
#include <gtest/gtest.h>

#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "tests/nim/rigs/voice_wire.h"

namespace qmtest {
namespace {

namespace vw = voicewire;

TEST(VoiceWire, VoicePacketsReadTheSameOnBothSidesAtEveryVarintWidth) {
    const std::uint64_t values[] = {0,          0x7F,       0x80,        0x3FFF,      0x4000,     0x1FFFFF,
                                    0x200000,   0xFFFFFFF,  0x10000000,  0xFFFFFFFFu, 0x100000000ull};
    for (std::uint64_t v : values) {
        auto session = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
        std::string packet = vw::ServerVoice(session, v, "opus-bytes", v % 2 == 1);
        qmnim::proto::ReceivedVoice theirs;
        ASSERT_TRUE(qmnim::proto::ParseServerVoice(packet, theirs)) << v;
        EXPECT_EQ(theirs.session, session) << v;
        EXPECT_EQ(theirs.sequence, v) << v;
        EXPECT_EQ(theirs.opus, "opus-bytes");
        EXPECT_EQ(theirs.last, v % 2 == 1);
        vw::Voice ours;
        ASSERT_TRUE(vw::ParseServerVoice(packet, ours)) << v;
        EXPECT_EQ(ours.sequence, v);

        // What the module sends, the rigs read.
        std::string sent = qmnim::proto::BuildVoicePacket(v, "frame", true);
        ASSERT_TRUE(vw::ParseClientVoice(sent, ours)) << v;
        EXPECT_EQ(ours.sequence, v);
        EXPECT_EQ(ours.opus, "frame");
        EXPECT_TRUE(ours.last);
    }
}

TEST(VoiceWire, MessagesDecodeAsTheModuleReadsThem) {
    vw::UserFields user = vw::User(300, "n\xC3\xBC", 7);
    user.selfMute = true;
    qmnim::proto::UserStateMsg state;
    ASSERT_TRUE(state.Decode(vw::UserStateMsg(user)));
    EXPECT_EQ(state.session, 300u);
    EXPECT_EQ(state.name, "n\xC3\xBC");
    EXPECT_EQ(state.channelId, 7u);
    EXPECT_EQ(state.selfMute, true);
    EXPECT_FALSE(state.selfDeaf.has_value());

    qmnim::proto::ChannelStateMsg channel;
    ASSERT_TRUE(channel.Decode(vw::ChannelStateMsg(9, 0, "room", true)));
    EXPECT_EQ(channel.channelId, 9u);
    EXPECT_EQ(channel.parent, 0u);
    EXPECT_EQ(channel.temporary, true);

    qmnim::proto::ServerSyncMsg sync;
    ASSERT_TRUE(sync.Decode(vw::ServerSyncMsg(42, 72000, 0xF07FF)));
    EXPECT_EQ(sync.session, 42u);
    EXPECT_EQ(sync.maxBandwidth, 72000u);

    qmnim::proto::RejectMsg reject;
    ASSERT_TRUE(reject.Decode(vw::RejectMsg(4, "no\r\nway")));
    EXPECT_EQ(reject.type, 4u);
    EXPECT_EQ(reject.reason, "no\r\nway");

    // And the other way: a frame of the module's, read by the rigs.
    qmnim::proto::ChannelStateMsg create;
    create.parent = 0;
    create.name = "new room";
    create.temporary = true;
    auto fields = vw::Parse(create.Encode());
    ASSERT_TRUE(fields);
    EXPECT_FALSE(fields->Number(1));
    EXPECT_EQ(fields->Number(2), 0u);
    EXPECT_EQ(fields->String(3), "new room");
    EXPECT_FALSE(vw::Parse("\x0a\x05" "abc"));  // a length beyond the message
}

}  // namespace
}  // namespace qmtest
