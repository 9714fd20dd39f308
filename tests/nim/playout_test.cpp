// What the listener hears of a speaker: the jitter buffer and the room's mix
// with real Opus packets, on a simulated clock (packets arrive when the
// scenario says, the loudspeaker takes 10 ms every 10 ms). Gaps are counted
// as silent 10 ms blocks inside a talk spurt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/jitter_buffer.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/room_mix.h"

namespace qmnim {
namespace {

using namespace std::chrono_literals;
using audio::JitterBuffer;
using Clock = JitterBuffer::Clock;

// `count` 20 ms Opus packets of a steady tone.
std::vector<std::string> TonePackets(size_t count, int expectedLoss = 0, double hz = 440) {
    audio::Encoder encoder(audio::OpusUse::Speech, 24000);
    encoder.SetExpectedLoss(expectedLoss);
    std::vector<std::string> out;
    std::vector<std::int16_t> frame(audio::kFrameSamples);
    for (size_t f = 0; f < count; ++f) {
        for (size_t i = 0; i < frame.size(); ++i) {
            double t = double(f * frame.size() + i) / audio::kSampleRate;
            frame[i] = static_cast<std::int16_t>(std::sin(2 * M_PI * hz * t) * 0.3 * 32767);
        }
        out.push_back(encoder.Encode(frame.data()));
    }
    return out;
}

struct Arrival {
    int atMs;
    std::uint64_t sequence;
    size_t packet;  // index into the packets
    bool last = false;
};

// Plays `arrivals` through a jitter buffer for `totalMs`, 10 ms at a time.
struct Listener {
    JitterBuffer jb;
    Clock::time_point t0 = Clock::now();
    std::vector<std::int16_t> heard;
    std::vector<int> stallsAtMs;  // the loudspeaker takes nothing then (its server stalled)
    std::map<int, int> fillMs;    // what is buffered after each pull

    void Play(const std::vector<std::string>& packets, std::vector<Arrival> arrivals, int totalMs, int fromMs = 0) {
        std::stable_sort(arrivals.begin(), arrivals.end(), [](const Arrival& a, const Arrival& b) { return a.atMs < b.atMs; });
        size_t next = 0;
        std::vector<std::int16_t> block(10 * audio::kSamplesPerMs);
        for (int ms = fromMs; ms < totalMs; ms += 10) {
            for (; next < arrivals.size() && arrivals[next].atMs <= ms; ++next)
                jb.Push(arrivals[next].sequence, packets[arrivals[next].packet], arrivals[next].last,
                        t0 + std::chrono::milliseconds(arrivals[next].atMs));
            if (std::count(stallsAtMs.begin(), stallsAtMs.end(), ms)) continue;
            std::fill(block.begin(), block.end(), 0);
            jb.MixInto(block.data(), block.size(), 1.0f, t0 + std::chrono::milliseconds(ms));
            heard.insert(heard.end(), block.begin(), block.end());
            fillMs[ms] = jb.bufferedMs();
        }
    }
};

bool Silent(const std::int16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (std::abs(s[i]) > 30) return false;
    return true;
}

// Silent 10 ms blocks between the first and the last block with sound.
int GapsInside(const std::vector<std::int16_t>& heard) {
    const size_t block = 10 * audio::kSamplesPerMs;
    std::vector<bool> silent;
    for (size_t at = 0; at + block <= heard.size(); at += block) silent.push_back(Silent(heard.data() + at, block));
    auto first = std::find(silent.begin(), silent.end(), false);
    auto last = std::find(silent.rbegin(), silent.rend(), false).base();
    if (first >= last) return -1;  // nothing heard at all
    return static_cast<int>(std::count(first, last, true));
}

// A steady sender, 20 ms apart with a few milliseconds of jitter.
std::vector<Arrival> Steady(size_t frames, std::uint64_t step, int jitterMs = 3, int startMs = 0,
                            std::uint64_t firstSequence = 0) {
    std::vector<Arrival> out;
    for (size_t f = 0; f < frames; ++f) {
        int jitter = jitterMs ? static_cast<int>((f * 7) % (2 * jitterMs + 1)) - jitterMs : 0;
        out.push_back({startMs + static_cast<int>(f) * 20 + jitter, firstSequence + f * step, f, f + 1 == frames});
    }
    return out;
}

TEST(Playout, SendersNumberingByOneOrByTwoAreHeardWithoutGaps) {
    auto packets = TonePackets(150);
    for (std::uint64_t step : {1u, 2u, 4u}) {
        SCOPED_TRACE(step);
        Listener run;
        run.Play(packets, Steady(150, step), 3400);
        EXPECT_EQ(GapsInside(run.heard), 0);
        EXPECT_EQ(run.jb.counters().concealed, 0u);
        EXPECT_EQ(run.jb.counters().late, 0u);
        EXPECT_GE(run.jb.counters().played, 145u);
        EXPECT_LE(run.jb.targetMs(), 30);
    }
}

TEST(Playout, ReorderedCopiedAndRenumberedPacketsPlayInTheirOrder) {
    auto packets = TonePackets(100);
    std::vector<Arrival> arrivals = Steady(100, 2, 0);
    // Every tenth pair swaps on the way (the second arrives 4 ms before the first).
    for (size_t f = 10; f + 1 < arrivals.size(); f += 10) {
        arrivals[f].atMs += 16;
        arrivals[f + 1].atMs -= 4;
    }
    // Some come twice (by both paths while the path changes).
    for (size_t f = 30; f < 40; ++f) arrivals.push_back({arrivals[f].atMs + 1, arrivals[f].sequence, f});
    Listener run;
    run.Play(packets, arrivals, 2300);
    EXPECT_EQ(run.jb.counters().late, 0u);
    EXPECT_EQ(run.jb.counters().concealed, 0u);
    EXPECT_LE(run.jb.counters().stretched, 1u) << "the first swap may find the buffer too thin";
    EXPECT_EQ(GapsInside(run.heard), 0);
    EXPECT_EQ(run.jb.counters().played + run.jb.counters().dropped, 100u) << "copies were played";

    // The sender reconnected and numbers from 0 again: a new stream, not 100 late packets.
    Listener again;
    std::vector<Arrival> before = Steady(50, 2, 0, 0, 5000);
    std::vector<Arrival> after = Steady(50, 2, 0, 1100, 0);
    before.insert(before.end(), after.begin(), after.end());
    again.Play(packets, before, 2300);
    EXPECT_EQ(again.jb.counters().late, 0u);
    EXPECT_GE(again.jb.counters().played, 95u);

    // Behind the same session: first a sender counting by one, then (the
    // session given to someone else) one counting by two, from 0 again; and
    // a sender whose numbering stands still while it pauses.
    Listener other;
    std::vector<Arrival> byOne = Steady(50, 1, 2, 0, 0), byTwo = Steady(50, 2, 2, 1100, 0),
                         paused = Steady(50, 2, 2, 2300, 100);
    byOne.insert(byOne.end(), byTwo.begin(), byTwo.end());
    byOne.insert(byOne.end(), paused.begin(), paused.end());
    other.Play(packets, byOne, 3500);
    const JitterBuffer::Counters& c = other.jb.counters();
    EXPECT_EQ(c.late + c.concealed + c.recovered, 0u);
    EXPECT_GE(c.played, 145u);
    EXPECT_LE(other.jb.targetMs(), 30);
}

TEST(Playout, LostPacketsAreFilledFromRedundancyOrConcealment) {
    auto packets = TonePackets(250, 10);
    std::vector<Arrival> arrivals;
    size_t lost = 0;
    for (const Arrival& a : Steady(250, 2, 2)) {
        // About 5 %: every 20th, and two in a row once.
        if ((a.packet % 20 == 7 || a.packet == 120 || a.packet == 121) && a.packet + 1 < 250) {
            ++lost;
            continue;
        }
        arrivals.push_back(a);
    }
    Listener run;
    run.Play(packets, arrivals, 5300);
    EXPECT_EQ(GapsInside(run.heard), 0);
    const JitterBuffer::Counters& c = run.jb.counters();
    EXPECT_EQ(c.recovered + c.concealed, lost);
    // Once the losses are seen the buffer keeps the next packet in hand, so
    // most losses are rebuilt from its redundancy.
    EXPECT_GT(c.recovered, lost / 2);
    EXPECT_GE(run.jb.targetMs(), 40);
}

TEST(Playout, LateOrLostIsDecidedByWhatComesNext) {
    auto packets = TonePackets(60);
    // The path stalls for 45 ms: packets 20..22 come late, together. The gap
    // is filled while waiting, and when they come they play (the delay
    // grew), nothing is lost.
    std::vector<Arrival> late = Steady(60, 2, 0);
    for (size_t f = 20; f <= 22; ++f) late[f].atMs = 445;
    Listener a;
    a.Play(packets, late, 1500);
    EXPECT_EQ(a.jb.counters().late, 0u);
    EXPECT_GE(a.jb.counters().played, 59u);
    EXPECT_EQ(GapsInside(a.heard), 0);
    // Packet 20 never comes: what was filled in stood for it, the stream
    // goes on with 21 without an extra gap or delay.
    std::vector<Arrival> lost = Steady(60, 2, 0);
    lost.erase(lost.begin() + 20);
    Listener b;
    b.Play(packets, lost, 1500);
    EXPECT_EQ(b.jb.counters().late, 0u);
    EXPECT_EQ(b.jb.counters().played, 59u);
    EXPECT_EQ(b.jb.counters().concealed + b.jb.counters().recovered, 1u);
    EXPECT_EQ(GapsInside(b.heard), 0);
}

TEST(Playout, ABacklogAfterAStallIsCutAndTheDelayComesBack) {
    auto packets = TonePackets(300);
    std::vector<Arrival> arrivals = Steady(300, 2, 0);
    // A stalled path: frames 100..199 arrive together when it returns at 4.0 s.
    for (size_t f = 100; f < 200; ++f) arrivals[f].atMs = 4000;
    Listener run;
    run.Play(packets, arrivals, 6300);
    // What piled up is gone: the sound after the stall is the live one.
    EXPECT_GE(run.jb.counters().dropped, 90u);
    EXPECT_EQ(run.jb.counters().late, 0u);
    EXPECT_EQ(GapsInside(std::vector<std::int16_t>(run.heard.begin() + 4100 * 48, run.heard.end())), 0);

    // Jitter makes the target grow, calm brings it back.
    Listener jittery;
    std::vector<Arrival> rough = Steady(300, 2, 0), calm;
    for (size_t f = 0; f < 100; ++f) rough[f].atMs += static_cast<int>((f * 37) % 41);  // 0..40 ms late
    for (size_t f = 100; f < rough.size(); ++f) calm.push_back(rough[f]);
    rough.resize(100);
    jittery.Play(packets, rough, 2000);
    int high = jittery.jb.targetMs();
    EXPECT_GE(high, 50);
    jittery.Play(packets, calm, 6200, 2000);
    EXPECT_LE(jittery.jb.targetMs(), 25) << "was " << high;
    EXPECT_LE(jittery.jb.bufferedMs(), 45);
}

// The largest step from one sample to the next within [from, to) ms.
int LargestStep(const std::vector<std::int16_t>& heard, int fromMs, int toMs) {
    int largest = 0;
    for (size_t i = static_cast<size_t>(fromMs) * 48 + 1; i < std::min(heard.size(), size_t(toMs) * 48); ++i)
        largest = std::max(largest, std::abs(int(heard[i]) - int(heard[i - 1])));
    return largest;
}

// The level of the quietest period of a `hz` tone within [from, to) ms, in dB.
double QuietestPeriodDb(const std::vector<std::int16_t>& heard, int fromMs, int toMs, double hz) {
    const size_t period = static_cast<size_t>(std::lround(audio::kSampleRate / hz));
    double least = 1e300;
    for (size_t at = static_cast<size_t>(fromMs) * 48; at + period <= std::min(heard.size(), size_t(toMs) * 48); at += 12) {
        double sum = 0;
        for (size_t i = at; i < at + period; ++i) sum += double(heard[i]) * heard[i];
        least = std::min(least, sum / double(period));
    }
    return 10 * std::log10(least + 1);
}

int LeastFill(const std::map<int, int>& fill, int fromMs, int toMs) {
    int least = INT32_MAX;
    for (auto it = fill.lower_bound(fromMs); it != fill.end() && it->first < toMs; ++it) least = std::min(least, it->second);
    return least;
}

TEST(Playout, DelayLeftByAStalledLoudspeakerIsCutBackWithoutAStep) {
    auto packets = TonePackets(300);
    Listener run;
    // The loudspeaker takes nothing for 10 ms, and later for 20 ms:
    // everything after is heard that much later, with a buffer that much fuller.
    run.stallsAtMs = {1000, 3000, 3010};
    run.Play(packets, Steady(300, 2, 0), 6000);
    int before = LeastFill(run.fillMs, 500, 1000);
    EXPECT_LE(before, 15) << "a steady sender starts with little more than a frame";
    // Cut back to within a few milliseconds (the cuts are whole periods of
    // the sound, 2 ms at least).
    EXPECT_GE(LeastFill(run.fillMs, 1000, 1500), before + 5);
    EXPECT_LE(LeastFill(run.fillMs, 2500, 3000), before + 5);
    EXPECT_GE(LeastFill(run.fillMs, 3000, 3500), before + 15);
    EXPECT_LE(LeastFill(run.fillMs, 5500, 6000), before + 5);
    const JitterBuffer::Counters& c = run.jb.counters();
    EXPECT_GE(c.shortened, 2u);
    EXPECT_EQ(c.concealed + c.underruns + c.dropped, 0u);
    EXPECT_EQ(GapsInside(run.heard), 0);
    // The cuts are joined where the tone goes on as it was: no step larger
    // than the tone's own, and no dip in its level (a join out of phase
    // cancels itself in the crossfade).
    int own = LargestStep(run.heard, 200, 1000);
    EXPECT_LE(LargestStep(run.heard, 1000, 5900), own * 3 / 2);
    EXPECT_GE(QuietestPeriodDb(run.heard, 1000, 5900, 440), QuietestPeriodDb(run.heard, 200, 1000, 440) - 1.5);
}

double MeanFill(const std::map<int, int>& fill, int fromMs, int toMs) {
    double sum = 0;
    int n = 0;
    for (auto it = fill.lower_bound(fromMs); it != fill.end() && it->first < toMs; ++it, ++n) sum += it->second;
    return n ? sum / n : -1;
}

TEST(Playout, AfterASenderStallsOnceTheDelayComesBackToWhereItWas) {
    // The talker's machine stalls once (a scheduling hiccup): the frames due
    // meanwhile come together when it runs again, and the stream keeps time
    // as before. What the listener then hears must be as late as before the
    // stall, not a few milliseconds more for the rest of the call.
    auto packets = TonePackets(500);
    for (int jitter : {0, 2}) {
        for (int stallMs : {30, 45, 60, 100}) {
            for (int startMs : {0, 3, 6}) {
                SCOPED_TRACE(testing::Message() << "jitter " << jitter << " ms, stall " << stallMs << " ms, start " << startMs);
                std::vector<Arrival> arrivals = Steady(500, 2, jitter, startMs);
                for (Arrival& a : arrivals)
                    if (a.atMs >= 2000 && a.atMs < 2000 + stallMs) a.atMs = 2000 + stallMs;
                Listener run;
                run.Play(packets, arrivals, 9900);
                double before = MeanFill(run.fillMs, 1000, 2000);
                double after = MeanFill(run.fillMs, 8000, 9900);
                EXPECT_LE(after, before + 2) << "before " << before << " ms, after " << after << " ms";
                EXPECT_EQ(run.jb.counters().late, 0u);
            }
        }
    }
}

TEST(Playout, ASenderThatStallsAndThenSendsWhatIsDueAtOnceIsBridgedAfterItsFirstStall) {
    auto packets = TonePackets(400);
    for (std::uint64_t step : {1u, 2u}) {
        SCOPED_TRACE(step);
        // For 4 s the sender's thread stalls 100 ms in every 500 and then
        // sends every frame that fell due meanwhile in one go; then it keeps time.
        std::vector<Arrival> arrivals = Steady(400, step, 0);
        for (Arrival& a : arrivals) {
            int phase = a.atMs % 500;
            if (a.atMs >= 500 && a.atMs < 4500 && phase < 100) a.atMs += 100 - phase;
        }
        Listener run;
        run.Play(packets, arrivals, 4500);
        // The first stall finds the buffer at its usual depth: what it
        // cannot bridge is silent once. The bursts teach it the stalls'
        // length, and the later ones pass unheard.
        int firstStall = GapsInside(std::vector<std::int16_t>(run.heard.begin(), run.heard.begin() + 900 * 48));
        EXPECT_LE(firstStall, 6);
        EXPECT_EQ(GapsInside(std::vector<std::int16_t>(run.heard.begin() + 800 * 48, run.heard.end())), 0);
        const JitterBuffer::Counters& c = run.jb.counters();
        EXPECT_EQ(c.late, 0u);
        EXPECT_EQ(c.concealed, 0u) << "a burst's frames are late, not lost";
        EXPECT_GE(run.jb.targetMs(), 100);
        // Once it keeps time again the delay comes back down.
        run.Play(packets, arrivals, 8300, 4500);
        EXPECT_EQ(GapsInside(run.heard), firstStall);
        EXPECT_EQ(c.late, 0u);
        EXPECT_GE(c.played + c.dropped, 399u);
        EXPECT_LE(run.jb.targetMs(), 30);
        EXPECT_LE(run.jb.bufferedMs(), 60);
    }
}

TEST(RoomMix, HoldsAFewSpeakersWhateverTheServerSendsAndFreesTheQuiet) {
    auto packets = TonePackets(2);
    audio::RoomMix mix;
    auto t0 = Clock::now();
    std::vector<std::int16_t> out(480);
    // 100,000 one-frame speakers within a second.
    for (std::uint32_t s = 1; s <= 100000; ++s)
        mix.OnPacket(s, 0, packets[0], false, t0 + std::chrono::microseconds(s * 10));
    EXPECT_LE(mix.speakers(), audio::RoomMix::kMaxSpeakers);
    // Those who keep talking keep their place; newcomers get one when someone falls quiet.
    for (int ms = 0; ms < 1500; ms += 20)
        mix.OnPacket(1, 2 + ms / 10, packets[1], false, t0 + 1s + std::chrono::milliseconds(ms));
    mix.OnPacket(200000, 0, packets[0], false, t0 + 2600ms);
    EXPECT_LE(mix.speakers(), audio::RoomMix::kMaxSpeakers);
    auto levels = mix.Levels(t0 + 2600ms);
    bool newcomer = false, talker = false;
    for (const auto& l : levels) {
        newcomer = newcomer || l.speaker == 200000;
        talker = talker || l.speaker == 1;
    }
    EXPECT_TRUE(newcomer);
    EXPECT_TRUE(talker);
    // Nobody plays: what arrives is decoded and dropped, not kept.
    for (int i = 0; i < 500; ++i) mix.OnPacket(1, 1000 + 2 * i, packets[i % 2], false, t0 + 2700ms + std::chrono::milliseconds(i));
    // After a few quiet seconds every speaker is freed.
    mix.Pull(out.data(), out.size(), t0 + 3s + audio::RoomMix::kForgetAfter + 1s);
    EXPECT_EQ(mix.speakers(), 0u);

    // One speaker with sequence numbers all over the place stays within its packet bound.
    audio::RoomMix one;
    one.Pull(out.data(), out.size(), t0);
    std::uint64_t seq = 12345;
    for (int i = 0; i < 5000; ++i) {
        seq = seq * 6364136223846793005ull + 1442695040888963407ull;
        one.OnPacket(7, seq >> 20, packets[0], false, t0 + std::chrono::microseconds(i));
        if (i % 100 == 0) one.Pull(out.data(), out.size(), t0 + std::chrono::microseconds(i));
    }
    auto c = one.counters();
    EXPECT_GE(c.dropped + c.late + c.played, 4000u);
}

}  // namespace
}  // namespace qmnim
