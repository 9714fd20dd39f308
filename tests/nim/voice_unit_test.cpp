// The voice module's parts on their own: wire formats, room names, the
// server's address and pin, the sending path and the sound calls without a
// usable sound library. (Playout and the datagram encryption have files of
// their own beside this one.)
#include <gtest/gtest.h>

#include <cmath>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/jitter_buffer.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/pulse_audio.h"
#include "outside/qm_nim/audio/room_mix.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/room_name.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "outside/qm_nim/proto/wire.h"

namespace qmnim {
namespace {

TEST(ProtoWire, MessagesRoundTripAndUnknownFieldsAreSkipped) {
    proto::UserStateMsg u;
    u.session = 7;
    u.channelId = 0;  // present although zero: "move to the root"
    u.name = "\xE4\xB8\xAD name";
    u.selfMute = true;
    proto::UserStateMsg back;
    std::string bytes = u.Encode();
    bytes += std::string("\xA8\x06\x05", 3);  // field 101, varint 5: unknown to us
    ASSERT_TRUE(back.Decode(bytes));
    EXPECT_EQ(back.session, 7u);
    ASSERT_TRUE(back.channelId.has_value());
    EXPECT_EQ(*back.channelId, 0u);
    EXPECT_EQ(*back.name, "\xE4\xB8\xAD name");
    EXPECT_TRUE(*back.selfMute);
    EXPECT_FALSE(back.userId.has_value());

    proto::AclMsg acl;
    acl.channelId = 0;
    acl.groups.push_back({"admin", true, true, {1, 2}});
    proto::AclMsg::Entry e;
    e.group = "all";
    e.grant = proto::kPermMakeTempChannel | proto::kPermSelfRegister;
    acl.acls.push_back(e);
    proto::AclMsg aclBack;
    ASSERT_TRUE(aclBack.Decode(acl.Encode()));
    ASSERT_EQ(aclBack.groups.size(), 1u);
    EXPECT_EQ(aclBack.groups[0].add, (std::vector<std::uint32_t>{1, 2}));
    ASSERT_EQ(aclBack.acls.size(), 1u);
    EXPECT_EQ(aclBack.acls[0].grant, e.grant);
}

TEST(ProtoWire, BrokenInputIsRefusedWithoutReadingPastTheEnd) {
    proto::ChannelStateMsg c;
    EXPECT_FALSE(c.Decode(std::string("\x1A\x05" "ab", 4)));       // length beyond the end
    EXPECT_FALSE(c.Decode(std::string("\x08\xFF\xFF", 3)));         // unfinished varint
    EXPECT_FALSE(c.Decode(std::string("\x0B", 1)));                 // group wire type
    EXPECT_FALSE(c.Decode(std::string(11, '\xFF')));                // varint longer than ten bytes
    EXPECT_TRUE(c.Decode(std::string()));                          // empty is a valid message
    proto::ServerSyncMsg s;
    EXPECT_TRUE(s.Decode(std::string("\x0A\x01x", 3)));             // field 1 as bytes: ignored, not trusted
    EXPECT_FALSE(s.session.has_value());
}

TEST(ProtoWire, FramesAreSplitAcrossReadsAndOversizedOnesEndTheStream) {
    proto::FrameParser frames;
    std::string a = proto::FrameHeader(proto::MessageType::Ping, 3) + "abc";
    std::string b = proto::FrameHeader(proto::MessageType::UDPTunnel, 0);
    std::string all = a + b;
    for (char ch : all) ASSERT_TRUE(frames.Feed(std::string_view(&ch, 1)));
    std::uint16_t type;
    std::string_view payload;
    ASSERT_TRUE(frames.Next(type, payload));
    EXPECT_EQ(type, 3);
    EXPECT_EQ(payload, "abc");
    ASSERT_TRUE(frames.Next(type, payload));
    EXPECT_EQ(type, 1);
    EXPECT_TRUE(payload.empty());
    EXPECT_FALSE(frames.Next(type, payload));
    frames.Feed(std::string("\x00\x01\x7F\xFF\xFF\xFF", 6));
    EXPECT_FALSE(frames.Next(type, payload));
    EXPECT_TRUE(frames.failed());
}

TEST(VoicePacket, VarintsOfEveryWidthAndSignRoundTrip) {
    for (std::int64_t v : std::vector<std::int64_t>{0LL, 1LL, 127LL, 128LL, 16383LL, 16384LL, 2097151LL, 2097152LL, 268435455LL, 268435456LL,
                           4294967295LL, 4294967296LL, INT64_MAX, -1LL, -4LL, -5LL, -1000000LL}) {
        std::string out;
        proto::WriteVarint(out, v);
        size_t pos = 0;
        std::int64_t back = 0;
        ASSERT_TRUE(proto::ReadVarint(out, pos, back)) << v;
        EXPECT_EQ(back, v);
        EXPECT_EQ(pos, out.size());
    }
    // Known encodings of the protocol.
    std::string two;
    proto::WriteVarint(two, 300);
    EXPECT_EQ(two, std::string("\x81\x2C", 2));
    size_t pos = 0;
    std::int64_t v;
    EXPECT_FALSE(proto::ReadVarint(std::string("\xF4\x01", 2), pos, v));  // 64-bit form cut short
}

TEST(VoicePacket, ClientPacketsParseAsTheServerRelaysThem) {
    std::string opus = "\x01\x02\x03";
    std::string packet = proto::BuildVoicePacket(4242, opus, true);
    ASSERT_EQ(static_cast<unsigned char>(packet[0]), 0x80);  // Opus, normal talking
    proto::ReceivedVoice v;
    ASSERT_TRUE(proto::ParseClientVoice(packet, v));
    EXPECT_EQ(v.sequence, 4242u);
    EXPECT_TRUE(v.last);
    EXPECT_EQ(v.opus, opus);
    // Relayed: the speaker's session comes after the header.
    std::string relayed = packet.substr(0, 1);
    proto::WriteVarint(relayed, 17);
    relayed += packet.substr(1);
    ASSERT_TRUE(proto::ParseServerVoice(relayed, v));
    EXPECT_EQ(v.session, 17u);
    EXPECT_EQ(v.sequence, 4242u);
    EXPECT_FALSE(proto::ParseServerVoice(std::string("\x20\x01\x01", 3), v));  // Speex: not ours
    EXPECT_FALSE(proto::ParseServerVoice(relayed.substr(0, relayed.size() - 1), v));  // cut short
    EXPECT_TRUE(proto::BuildVoicePacket(1, std::string(1100, 'x'), false).empty());  // over the budget
}

TEST(RoomNames, PlainIdsStayAndOthersAreEncodedReversibly) {
    EXPECT_EQ(proto::ChannelNameForRoom("1001"), "1001");
    EXPECT_EQ(proto::ChannelNameForRoom("Lobby 7"), "Lobby 7");
    EXPECT_EQ(proto::ChannelNameForRoom("\xE6\x88\xBF\xE9\x97\xB4"), "\xE6\x88\xBF\xE9\x97\xB4");  // CJK letters
    EXPECT_EQ(proto::ChannelNameForRoom("room/1"), "==room=2F1");
    EXPECT_EQ(proto::ChannelNameForRoom("."), "===2E");
    EXPECT_EQ(proto::ChannelNameForRoom("==x"), "===3D=3Dx");  // the marker itself is encoded
    for (const char* id : {"1001", "room/1", ".", "==x", "a=b", "\xF0\x9F\x8E\xB5 music", "%41", "\xFF\xFE"}) {
        std::string name = proto::ChannelNameForRoom(id);
        EXPECT_TRUE(proto::IsPlainChannelName(name)) << name;
        auto back = proto::RoomForChannelName(name);
        ASSERT_TRUE(back.has_value()) << name;
        EXPECT_EQ(*back, id);
    }
    EXPECT_FALSE(proto::RoomForChannelName("==abc").has_value());  // not what encoding "abc" gives
    EXPECT_FALSE(proto::RoomForChannelName("==a=4").has_value());
}

TEST(VoiceServer, HostPortAndPinAreReadStrictly) {
    std::string error;
    auto e = net::ParseVoiceServer("voice.example.com:1234", "", error);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->host, "voice.example.com");
    EXPECT_EQ(e->port, 1234);
    EXPECT_TRUE(e->pin.empty());
    EXPECT_EQ(net::ParseHostPort("[::1]:99")->host, "::1");
    EXPECT_EQ(net::ParseHostPort("host")->port, net::kDefaultVoicePort);
    for (const char* bad : {"", ":1", "h:", "h:0", "h:65536", "h:12a", "::1", "h/x:1", "[::1"})
        EXPECT_FALSE(net::ParseHostPort(bad)) << bad;
    std::string hex(64, 'a');
    auto pin = net::ParseFingerprint(hex);
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->size(), 32u);
    std::string colons;
    for (int i = 0; i < 32; ++i) colons += std::string(i ? ":" : "") + "AA";
    EXPECT_EQ(net::ParseFingerprint(colons), pin);
    EXPECT_FALSE(net::ParseFingerprint(std::string(62, 'a')));
    EXPECT_FALSE(net::ParseFingerprint(std::string(64, 'g')));
    EXPECT_FALSE(net::ParseVoiceServer("h:1", "abc", error));
}

std::vector<std::int16_t> Tone(double hz, size_t n, double amp = 0.3, size_t offset = 0) {
    std::vector<std::int16_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::int16_t>(std::lround(std::sin(2 * M_PI * hz * double(i + offset) / 48000) * amp * 32767));
    return out;
}

TEST(SendPath, FramesAreNumberedInTenMillisecondUnitsAndMuteStopsThem) {
    std::vector<std::string> packets;
    audio::Transmitter t([&](std::string p) { packets.push_back(std::move(p)); }, nullptr, nullptr);
    t.Configure(audio::OpusUse::Music, 40000);
    t.SetSending(true);
    t.SetInputActive(audio::Transmitter::Input::Mic, true);
    std::vector<std::int16_t> tone = Tone(440, audio::kFrameSamples * 5);
    t.OnSamples(audio::Transmitter::Input::Mic, tone.data(), tone.size());
    ASSERT_EQ(packets.size(), 5u);
    for (size_t i = 0; i < packets.size(); ++i) {
        proto::ReceivedVoice v;
        ASSERT_TRUE(proto::ParseClientVoice(packets[i], v));
        EXPECT_EQ(v.sequence, 2 * i);
        EXPECT_FALSE(v.last);
    }
    t.SetMuted(true);
    t.OnSamples(audio::Transmitter::Input::Mic, tone.data(), audio::kFrameSamples);
    ASSERT_EQ(packets.size(), 6u);  // one closing frame, then nothing
    proto::ReceivedVoice v;
    ASSERT_TRUE(proto::ParseClientVoice(packets.back(), v));
    EXPECT_TRUE(v.last);
    t.OnSamples(audio::Transmitter::Input::Mic, tone.data(), tone.size());
    EXPECT_EQ(packets.size(), 6u);
    // Silence is not sent; a steady tone is, however long.
    t.SetMuted(false);
    std::vector<std::int16_t> silence(audio::kFrameSamples * 50, 0);
    packets.clear();
    t.OnSamples(audio::Transmitter::Input::Mic, silence.data(), silence.size());
    EXPECT_TRUE(packets.empty());
}

TEST(SendPath, TheToneSurvivesEncodingMixingAndDecoding) {
    audio::RoomMix mix;
    audio::Transmitter t(
        [&](std::string p) {
            proto::ReceivedVoice v;
            ASSERT_TRUE(proto::ParseClientVoice(p, v));
            mix.OnPacket(5, v.sequence, v.opus, v.last);
        },
        nullptr, nullptr);
    t.Configure(audio::OpusUse::Speech, 24000);
    t.SetSending(true);
    t.SetInputActive(audio::Transmitter::Input::Program, true);
    // Sent and played at the pace of real time: a frame in, a frame out.
    std::vector<std::int16_t> tone = Tone(880, audio::kFrameSamples * 10);
    std::vector<std::int16_t> out(audio::kFrameSamples * 8);
    for (size_t f = 0; f < 10; ++f) {
        t.OnSamples(audio::Transmitter::Input::Program, tone.data() + f * audio::kFrameSamples, audio::kFrameSamples);
        if (f >= 2) mix.Pull(out.data() + (f - 2) * audio::kFrameSamples, audio::kFrameSamples);
    }
    // Count zero crossings in the second half: 880 Hz gives about 2 per period.
    size_t crossings = 0;
    for (size_t i = out.size() / 2 + 1; i < out.size(); ++i)
        crossings += (out[i - 1] < 0) != (out[i] < 0) ? 1 : 0;
    double seconds = double(out.size() / 2) / 48000;
    EXPECT_NEAR(crossings / seconds / 2, 880, 30);
    EXPECT_GT(audio::LevelOf(out.data() + out.size() / 2, out.size() / 2), 60);
}

TEST(Bitrate, TheWishIsCappedByTheServersBandwidth) {
    EXPECT_EQ(audio::ChooseBitrate(true, audio::OpusUse::Music, 0), 64000);
    EXPECT_EQ(audio::ChooseBitrate(false, audio::OpusUse::Speech, 0), 24000);
    EXPECT_EQ(audio::ChooseBitrate(true, audio::OpusUse::Music, 72000), 72000 - 19600);
    EXPECT_EQ(audio::ChooseBitrate(true, audio::OpusUse::Music, 20000), 8000);
    EXPECT_EQ(audio::UseOfAudioMode(0), audio::OpusUse::Speech);
    EXPECT_EQ(audio::UseOfAudioMode(1), audio::OpusUse::LowDelay);
    EXPECT_EQ(audio::UseOfAudioMode(2), audio::OpusUse::Music);
}

// The sound library is opened on first use; when it is missing, or is not
// the library it should be, every sound call fails as with no server running.
TEST(SoundLibrary, AMissingOrWrongLibraryFailsEverySoundCallLikeAnAbsentServer) {
    struct Case {
        const char* file;
        const char* reason;
    };
    for (const Case& c : {Case{"libqm-no-such-sound.so.0", "cannot be loaded"},
                          Case{"libc.so.6", "lacks pa_context_connect"}}) {
        SCOPED_TRACE(c.file);
        audio::PulseAudio sound(std::chrono::milliseconds(500), c.file);
        for (int attempt = 0; attempt < 2; ++attempt) {  // the second answers from the first's outcome
            std::string error;
            EXPECT_TRUE(sound.Devices(&error).empty());
            EXPECT_EQ(error.rfind("no sound server: ", 0), 0u) << error;
            EXPECT_NE(error.find(c.file), std::string::npos) << error;
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
        std::string error;
        EXPECT_TRUE(sound.Programs(&error).empty());
        EXPECT_EQ(error.rfind("no sound server: ", 0), 0u) << error;
        auto none = [](const std::int16_t*, size_t) {};
        error.clear();
        EXPECT_EQ(sound.Capture("default", [](const std::int16_t*, size_t, audio::PulseAudio::Clock::time_point) {},
                                error),
                  nullptr);
        EXPECT_EQ(error.rfind("no sound server: ", 0), 0u) << error;
        error.clear();
        EXPECT_EQ(sound.Play("", [](std::int16_t*, size_t) {}, error), nullptr);
        EXPECT_EQ(error.rfind("no sound server: ", 0), 0u) << error;
        error.clear();
        EXPECT_EQ(sound.CaptureProgram("", none, error), nullptr);
        EXPECT_EQ(error.rfind("no sound server: ", 0), 0u) << error;
    }
}

}  // namespace
}  // namespace qmnim
