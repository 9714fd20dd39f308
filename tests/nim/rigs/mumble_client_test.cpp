// The Mumble desktop client rig against murmurd and today's module: it starts
// headless, enters the module's room, tones cross both ways (it over UDP, the
// module through the TCP tunnel), and what it tells its user can be read.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>

#include "tests/nim/rigs/audio_measure.h"
#include "tests/nim/rigs/mumble_client.h"
#include "tests/nim/voice_peer.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

using namespace std::chrono_literals;

TEST(MumbleClientRig, EntersTheModulesRoomAndTonesCrossBothWays) {
    MurmurServer murmur;
    ASSERT_TRUE(murmur.Start()) << murmur.Log();
    ASSERT_TRUE(murmur.GrantTemporaryChannels()) << murmur.Log();
    PulseServer pulse;
    ASSERT_TRUE(pulse.Start()) << pulse.Log();
    VoicePeer peer("module", pulse.address(),
                   "[voice]\nhost=" + murmur.host() + "\nfingerprint=" + murmur.fingerprint() + "\n");
    ASSERT_TRUE(peer.Start()) << peer.Stderr();
    ASSERT_TRUE(peer.Login("module", MurmurServer::kServerPassword)) << peer.Stderr();
    Json::Value joined;
    Json::Reader().parse(peer.Join("interop"), joined);
    ASSERT_EQ(joined["res"].asInt(), 200);
    ASSERT_TRUE(peer.Do("mic - 0"));
    ASSERT_TRUE(peer.Started(0));
    ASSERT_TRUE(peer.Do("play -"));
    ASSERT_TRUE(peer.Started(2));

    MumbleClient mumble("desktop");
    std::string sha1 = CertificateSha1(murmur.port(), 10s);
    ASSERT_EQ(sha1.size(), 40u);
    ASSERT_TRUE(mumble.Start({murmur.port(), MurmurServer::kServerPassword, sha1}, "interop")) << mumble.Log();
    ASSERT_TRUE(mumble.WaitConnected()) << mumble.Log() << murmur.Log();
    ASSERT_TRUE(mumble.WaitInChannel("interop")) << mumble.CurrentUrl().value_or("");
    std::fprintf(stderr, "Mumble client: on its bus after %lld ms, logged in after %lld ms\n",
                 static_cast<long long>(mumble.startCost().count()), static_cast<long long>(mumble.connectCost().count()));

    {
        TonePlayer tone(pulse.address(), "micfeed", 440);
        EXPECT_TRUE(mumble.Hears(440)) << "the Mumble client does not hear the module\n" << mumble.Log();
        EXPECT_TRUE(mumble.WaitTalking("module", true, 10s));
    }
    EXPECT_TRUE(mumble.WaitTalking("module", false, 10s));
    {
        auto tone = mumble.PlayTone(660);
        bool heard = false;
        for (int i = 0; i < 20 && !heard; ++i) heard = HasTone(Record(pulse.address(), "spk.monitor", 800ms), 660);
        EXPECT_TRUE(heard) << "the module does not hear the Mumble client";
    }
    // Its loudspeaker is quiet once nobody talks.
    std::vector<short> quiet;
    for (int i = 0; i < 20 && CountSilentBlocks(quiet) < 50; ++i) quiet = mumble.Record(600ms);
    EXPECT_EQ(CountSilentBlocks(quiet), 60u);

    ASSERT_TRUE(mumble.SetSelfMuted(true));
    EXPECT_EQ(mumble.SelfMuted(), true);
    EXPECT_TRUE(mumble.notifications().WaitFor({"You self-muted"}, 10s));
    ASSERT_TRUE(mumble.SetSelfDeaf(true));
    EXPECT_EQ(mumble.SelfDeaf(), true);
}

}  // namespace
}  // namespace qmtest
