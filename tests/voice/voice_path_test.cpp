// The voice path end to end with the real module (qm_nim.so in voice_peer
// processes, each with a private PulseAudio): senders the module must hear
// cleanly and floods it must survive, from a scripted server of our own; the
// datagram path, its fallback to the connection and its return, against a
// real murmurd. Everything runs in a private network namespace, whose
// firewall the tests change.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/voice/rigs/hostile_server.h"
#include "tests/voice/rigs/opus_frames.h"
#include "tests/voice/voice_peer.h"
#include "tests/voice/voice_servers.h"

namespace qmtest {
namespace {

namespace vw = voicewire;
using namespace std::chrono_literals;

Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

// Silent 10 ms blocks between the first and the last block with sound.
int GapsInside(const std::vector<short>& heard) {
    const size_t block = 480;
    std::vector<bool> silent;
    for (size_t at = 0; at + block <= heard.size(); at += block) {
        short peak = 0;
        for (size_t i = at; i < at + block; ++i) peak = std::max<short>(peak, static_cast<short>(std::abs(heard[i])));
        silent.push_back(peak < 33);  // -60 dBFS
    }
    auto first = std::find(silent.begin(), silent.end(), false);
    auto last = std::find(silent.rbegin(), silent.rend(), false).base();
    if (first >= last) return -1;
    return static_cast<int>(std::count(first, last, true));
}

// Records until `hz` is heard; bounded in tries.
bool Hears(const std::string& pulse, double hz, int tries = 20) {
    for (int i = 0; i < tries; ++i)
        if (HasTone(Record(pulse, "spk.monitor", 400ms), hz)) return true;
    return false;
}

long RssKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// --- senders and floods, from the scripted server -----------------------------------------

class FromScriptedServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        ASSERT_TRUE(pulse_.Start()) << pulse_.Log();
    }
    std::unique_ptr<VoicePeer> Listener(const std::string& room) {
        auto p = std::make_unique<VoicePeer>("listener", pulse_.address(), server_.Deploy());
        EXPECT_TRUE(p->Start()) << p->Stderr();
        EXPECT_TRUE(p->Login("lis", "pw")) << p->Stderr();
        EXPECT_EQ(Parse(p->Join(room))["res"].asInt(), 200);
        EXPECT_TRUE(p->Do("play -"));
        EXPECT_TRUE(p->Started(2));
        return p;
    }
    HostileVoiceServer server_;
    PulseServer pulse_;
};

// Another client library numbers its packets one per 20 ms frame: the module
// must take the sequence as an order and play every frame.
TEST_F(FromScriptedServer, ASenderNumberingByOneIsHeardWithoutGaps) {
    server_.AddChannel(1, 0, "talk");
    server_.AddUser(vw::User(200, "counter", 1));
    auto peer = Listener("talk");
    for (int step : {1, 2}) {
        SCOPED_TRACE(step);
        server_.StreamTone(200, 440, 400, step);  // 8 s
        ASSERT_TRUE(Hears(pulse_.address(), 440));
        // A loaded machine may stall the sound server itself now and then:
        // the best of a few windows shows what the module does (a sequence
        // taken for a clock loses every other frame in each of them).
        int fewest = 1000;
        for (int window = 0; window < 3 && fewest > 0; ++window) {
            std::vector<short> heard = Record(pulse_.address(), "spk.monitor", 1500ms);
            EXPECT_TRUE(HasTone(heard, 440));
            int gaps = GapsInside(heard);
            if (gaps >= 0) fewest = std::min(fewest, gaps);
        }
        EXPECT_EQ(fewest, 0);
        ASSERT_TRUE(server_.WaitStreamsDone(30s));
    }
}

// Voice from sessions the server never announced, and from more members than
// anyone can listen to: the module keeps a bounded amount of it (32 speakers
// of at most a second each) and still hears the room.
TEST_F(FromScriptedServer, FloodsOfSendersCannotGrowTheClient) {
    server_.AddChannel(1, 0, "talk");
    server_.AddUsers(1, 5000, 2000, "m");
    server_.AddChannel(2, 0, "elsewhere");
    server_.AddUser(vw::User(9000, "outsider", 2));
    auto peer = Listener("talk");
    server_.StreamTone(5001, 660, 150, 2);  // the module is warm: decoders, sound
    ASSERT_TRUE(Hears(pulse_.address(), 660));
    ASSERT_TRUE(server_.WaitStreamsDone(30s));
    long before = RssKb(peer->pid());

    OpusTone tone(440);
    std::string frame = tone.Next();
    for (int chunk = 0; chunk < 10; ++chunk) {
        std::string flood;
        // 10,000 strangers a chunk, one frame each ...
        for (std::uint32_t s = 0; s < 10000; ++s)
            flood += vw::Frame(vw::kUDPTunnel, vw::ServerVoice(100000 + chunk * 10000 + s, 0, frame));
        // ... and 200 members talking at once, with far-flung sequence numbers.
        for (std::uint32_t m = 0; m < 200; ++m)
            for (std::uint64_t f = 0; f < 10; ++f)
                flood += vw::Frame(vw::kUDPTunnel,
                                   vw::ServerVoice(5000 + chunk * 200 + m, (f * 7919 + m) % 100000, frame));
        ASSERT_TRUE(server_.Send(flood));
    }
    ASSERT_TRUE(server_.WaitSent(60s));
    // A member after the flood is heard: the flood before it is behind the module.
    server_.StreamTone(6999, 550, 150, 2);
    ASSERT_TRUE(Hears(pulse_.address(), 550));
    long after = RssKb(peer->pid());
    RecordProperty("rss_before_kb", static_cast<int>(before));
    RecordProperty("rss_after_kb", static_cast<int>(after));
    EXPECT_LT(after - before, 16 * 1024) << "kB grown: " << before << " -> " << after;
    ASSERT_TRUE(server_.WaitStreamsDone(30s));
    server_.StreamTone(9000, 880, 100, 2);
    EXPECT_FALSE(Hears(pulse_.address(), 880, 3)) << "a user of another channel was played";
}

}  // namespace
}  // namespace qmtest
