// The microphone's processing on sounds the test makes (speech spoken by
// espeak-ng, noise), without devices: the echo reference's alignment, the
// search for an echo path's own delay, the canceller behind an echo path the
// sound server's latencies do not know, noise, gain and the speech detector;
// and the transmitter's two inputs, its backlog and its 10 ms blocks inside
// 20 ms frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/processing/delay_estimator.h"
#include "outside/qm_nim/audio/processing/echo_reference.h"
#include "outside/qm_nim/audio/processing/microphone_processor.h"
#include "outside/qm_nim/audio/processing/residual_echo_gate.h"
#include "outside/qm_nim/audio/transmitter.h"
#include "outside/qm_nim/proto/voice_packet.h"
#include "tests/nim/rigs/audio_measure.h"
#include "tests/nim/rigs/audio_rigs.h"

namespace qmnim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kRate = audio::kSampleRate;
constexpr size_t kBlock = 480;

// RMS level of samples [from, to) in dBFS.
double LoudnessOf(const std::vector<short>& samples, size_t from, size_t to) {
    return qmtest::LevelDbfs(samples, from, to > from ? to - from : 0);
}

// Stationary noise at `dbfs` RMS, white or pink (three poles: about -3 dB an octave).
std::vector<short> Noise(size_t samples, double dbfs, bool pink, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0, 1);
    std::vector<double> v(samples);
    double b0 = 0, b1 = 0, b2 = 0;
    for (double& x : v) {
        double w = normal(random);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        x = pink ? b0 + b1 + b2 + w * 0.1848 : w;
    }
    double sum = 0;
    for (double x : v) sum += x * x;
    double gain = 32768.0 * std::pow(10.0, dbfs / 20.0) / std::sqrt(sum / double(std::max<size_t>(samples, 1)));
    std::vector<short> out(samples);
    for (size_t i = 0; i < samples; ++i) out[i] = static_cast<short>(std::clamp(std::lround(v[i] * gain), -32768L, 32767L));
    return out;
}

// Adds `what` times `gain` into `into` from `at` on (as far as `into` reaches), clipping.
void MixAt(std::vector<short>& into, const std::vector<short>& what, size_t at, double gain = 1.0) {
    for (size_t i = 0; i < what.size() && at + i < into.size(); ++i)
        into[at + i] = static_cast<short>(std::clamp(std::lround(into[at + i] + what[i] * gain), -32768L, 32767L));
}

Clock::time_point At(Clock::time_point t0, double seconds) {
    return t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A recognisable sample for every index: never zero, never repeating within a test.
std::int16_t Mark(std::int64_t index) { return static_cast<std::int16_t>(1 + index % 30000); }

const std::vector<short>& FarSpeech() {
    static const std::vector<short> s = qmtest::SpeechSample(
        "The quick brown fox jumps over the lazy dog. We are testing the echo canceller with a long sentence, "
        "and another one follows right after it, with numbers one two three four five six seven.",
        -20);
    return s;
}

const std::vector<short>& NearSpeech() {
    static const std::vector<short> s = qmtest::SpeechSample(
        "Hello, can you hear me? I am speaking at the same time as the other side, and my words must get through.",
        -24);
    return s;
}

// --- the echo reference ------------------------------------------------------------------------

TEST(EchoReference, TheStreamStaysContinuousThroughWanderingReportsAndFollowsUnderrunsStepsAndMoves) {
    audio::EchoReference reference(kRate);
    const std::int64_t lead = 480;
    reference.SetLead(lead);
    const Clock::time_point t0 = Clock::now();
    double playLatency = 0.030;
    std::mt19937 random(7);
    std::vector<std::int16_t> piece(240), out(kBlock);
    std::int64_t played = 0;
    // The loudspeaker's pieces; their reported times off by up to `reportError` seconds.
    auto playUntil = [&](double seconds, double reportError = 0) {
        std::uniform_real_distribution<double> error(-reportError, reportError);
        while (double(played) / kRate < seconds) {
            for (size_t i = 0; i < piece.size(); ++i) piece[i] = Mark(played + static_cast<std::int64_t>(i));
            reference.OnPlayed(piece.data(), piece.size(), At(t0, double(played) / kRate + playLatency + error(random)));
            played += static_cast<std::int64_t>(piece.size());
        }
    };
    EXPECT_EQ(reference.Next(out.data(), kBlock, t0), audio::EchoReference::Take::Silent) << "nothing played yet";
    // The sample of the reference for a capture at `captured` (seconds): what was heard then, `lead` ahead.
    auto expected = [&](double captured) { return std::llround((captured - playLatency) * kRate) + lead; };
    // Where the block just read starts (-1: not a sample the loudspeaker played).
    auto found = [&](std::int64_t near) {
        for (std::int64_t k = near - 2000; k < near + 2000; ++k)
            if (Mark(k) == out[0]) return k;
        return std::int64_t{-1};
    };
    std::int64_t next = -1;  // where the next block continues the stream
    auto read = [&](double captured, std::int64_t near = -1) {
        auto take = reference.Next(out.data(), kBlock, At(t0, captured));
        std::int64_t at = found(near >= 0 ? near : expected(captured));
        if (at >= 0) {
            for (size_t i = 1; i < kBlock; ++i)
                if (out[i] != Mark(at + static_cast<std::int64_t>(i))) ADD_FAILURE() << "a gap inside a block";
        }
        next = at + static_cast<std::int64_t>(kBlock);
        return std::make_pair(take, at);
    };

    // The capture's reported times wander by up to 5 ms, the loudspeaker's by half a
    // millisecond: the reference starts where the first block says (give or take the first
    // piece's report) and never slips.
    std::uniform_real_distribution<double> wander(-0.005, 0.005);
    double captured = 0.5;
    playUntil(captured + 0.1, 0.0005);
    auto [take, at] = read(captured);
    EXPECT_EQ(take, audio::EchoReference::Take::Resynced);
    EXPECT_NEAR(double(at), double(expected(captured)), 24);
    for (int block = 1; block < 1000; ++block) {
        captured += 0.010;
        playUntil(captured + 0.1, 0.0005);
        std::int64_t continues = next;
        auto [take, at] = read(captured + wander(random));
        ASSERT_EQ(take, audio::EchoReference::Take::Aligned) << "block " << block;
        ASSERT_EQ(at, continues) << "the stream slipped at block " << block;
    }

    // The loudspeaker underruns for 7 ms: what comes after is heard that much later, and the
    // reference holds the silence in between without a slip of its own.
    playUntil(captured + 0.110);
    playLatency += 0.007;
    playUntil(captured + 0.4);
    size_t zeros = 0;
    for (int block = 0; block < 20; ++block) {
        captured += 0.010;
        ASSERT_NE(reference.Next(out.data(), kBlock, At(t0, captured)), audio::EchoReference::Take::Resynced);
        zeros += static_cast<size_t>(std::count(out.begin(), out.end(), 0));
    }
    EXPECT_NEAR(double(zeros), 0.007 * kRate, 24) << "the gap heard (give or take the reports' error)";
    captured += 0.010;
    EXPECT_NEAR(double(read(captured).second), double(expected(captured)), 24)
        << "after the gap the stream is where the loudspeaker is";
    EXPECT_EQ(reference.slips().steps, 0u) << "wandering reports and an underrun are no slips";

    // The capture loses 30 ms: the stream steps with it.
    captured += 0.040;
    playUntil(captured + 0.1);
    EXPECT_NEAR(double(read(captured).second), double(expected(captured)), 24);
    EXPECT_EQ(reference.slips().steps, 1u);

    // The capture's clock comes to disagree by 15 ms for good (not a step) and the search
    // finds the stream where the echo is: anchored there, a further 15 ms is no step either.
    captured += 0.010;
    playUntil(captured + 0.2);
    std::int64_t continues = next;
    EXPECT_EQ(read(captured + 0.015).second, continues);
    const std::int64_t before = reference.extraDelay();
    reference.Anchor();
    EXPECT_EQ(reference.extraDelay(), before + 720);
    captured += 0.010;
    continues = next;
    EXPECT_EQ(read(captured + 0.030).second, continues);

    // The echo is found 100 ms later than the stream has it: the stream starts anew that much earlier.
    captured += 0.010;
    playUntil(captured + 0.2);
    continues = next;
    reference.Move(4800);
    auto moved = read(captured + 0.030, continues - 4800);
    EXPECT_EQ(moved.first, audio::EchoReference::Take::Resynced);
    EXPECT_EQ(moved.second, continues - 4800);
    EXPECT_EQ(reference.extraDelay(), before + 720 + 4800);
    EXPECT_EQ(reference.slips().moves, 1u);
    EXPECT_EQ(reference.slips().steps, 1u) << "an anchor is no slip";

    // Older than what is kept, or not heard yet: silence.
    EXPECT_EQ(reference.Next(out.data(), kBlock, At(t0, captured - 5)), audio::EchoReference::Take::Silent);
    EXPECT_EQ(reference.Next(out.data(), kBlock, At(t0, captured + 5)), audio::EchoReference::Take::Silent);
}

// --- the echo path's delay ---------------------------------------------------------------------

std::optional<std::int64_t> EstimateOf(const std::vector<short>& reference, const std::vector<short>& mic) {
    audio::DelayEstimator estimator;
    for (size_t at = 0; at + kBlock <= std::min(reference.size(), mic.size()); at += kBlock) {
        estimator.Add(reference.data() + at, mic.data() + at, kBlock);
        if (auto lag = estimator.TakeEstimate()) return lag;
    }
    return std::nullopt;
}

TEST(DelayEstimator, FindsAnEchoLateOrEarlyAndNothingWithoutAnEcho) {
    const std::vector<short>& far = FarSpeech();
    ASSERT_FALSE(far.empty()) << "espeak-ng speaks nothing";
    for (std::int64_t delay : {std::int64_t{8304}, std::int64_t{18500}, std::int64_t{-3000}}) {
        SCOPED_TRACE(delay);
        std::vector<short> mic = Noise(far.size(), -60, false, 3);
        std::vector<short> echo(far.size());
        for (size_t i = 0; i < far.size(); ++i) {
            std::int64_t j = static_cast<std::int64_t>(i) - delay;
            echo[i] = j >= 0 && j < static_cast<std::int64_t>(far.size()) ? far[static_cast<size_t>(j)] : 0;
        }
        MixAt(mic, echo, 0, 0.316);
        std::optional<std::int64_t> lag = EstimateOf(far, mic);
        ASSERT_TRUE(lag.has_value());
        EXPECT_NEAR(double(*lag), double(delay), 12);
    }
    // Another voice in the microphone is no echo of the loudspeaker.
    std::vector<short> other = NearSpeech();
    other.resize(far.size());
    MixAt(other, Noise(far.size(), -60, false, 4), 0);
    EXPECT_FALSE(EstimateOf(far, other).has_value());
}

// --- the processing ----------------------------------------------------------------------------

// A room of the test: what the loudspeaker plays reaches the microphone
// `echoGain` weaker, `pathDelay` seconds after the sound server says it is
// heard; the server reports 25 ms of playback and 15 ms of capture latency.
struct Room {
    std::vector<short> played, near, mic, out;
    std::vector<bool> speech;  // per 10 ms block
};

Room RunRoom(audio::MicrophoneProcessor& processor, std::vector<short> played, std::vector<short> near,
             double echoGain, double pathDelay, bool loudspeakerDistorts = false) {
    Room room;
    size_t length = std::max(played.size(), near.size());
    played.resize(length);
    near.resize(length);
    room.mic = near;
    size_t shift = static_cast<size_t>(pathDelay * kRate);
    for (size_t i = shift; i < length; ++i) {
        // A small loudspeaker driven hard rounds its peaks off: an echo no linear filter models whole.
        double sound = loudspeakerDistorts ? 32767 * std::tanh(played[i - shift] / 32767.0 * 3) / 3 : played[i - shift];
        room.mic[i] = static_cast<short>(std::clamp(std::lround(room.mic[i] + sound * echoGain), -32768L, 32767L));
    }
    const Clock::time_point t0 = Clock::now();
    room.out = room.mic;
    size_t written = 0;
    for (size_t at = 0; at + kBlock <= length; at += kBlock) {
        // The loudspeaker is fed 40 ms ahead of what the microphone hears.
        while (written < std::min(length, at + 40 * 48)) {
            size_t n = std::min<size_t>(240, length - written);
            processor.OnPlayed(played.data() + written, n, At(t0, double(written) / kRate));
            written += n;
        }
        room.speech.push_back(processor.Process(room.out.data() + at, At(t0, double(at) / kRate)));
    }
    room.played = std::move(played);
    room.near = std::move(near);
    return room;
}

TEST(Processing, TheEchoOfAPathWithItsOwnDelayIsCancelledWhileTheUserStillComesThrough) {
    // Far speech for 11 s; the user speaks from 8 s (double talk) to the end.
    std::vector<short> far = FarSpeech(), near(size_t(16 * kRate));
    ASSERT_GT(far.size(), size_t(10 * kRate));
    far.resize(size_t(11 * kRate));
    std::vector<short> user = NearSpeech();
    user.resize(std::min(user.size(), size_t(8 * kRate)));
    MixAt(near, user, 8 * kRate);
    for (double pathDelay : {0.0, 0.2}) {
        SCOPED_TRACE(pathDelay);
        audio::MicrophoneProcessor processor({});  // all stages; a music room: the echo only
        Room room = RunRoom(processor, far, near, 0.316, pathDelay);
        // Once the canceller has learnt the path (a few seconds of far speech), the echo alone
        // (what a user without a canceller sends back) and what is left of it.
        double echo = LoudnessOf(room.mic, 11 * kRate / 2, 8 * kRate);
        double left = LoudnessOf(room.out, 11 * kRate / 2, 8 * kRate);
        EXPECT_LT(left, echo - 40) << "echo " << echo << " dBFS, left " << left << " dBFS";
        EXPECT_NEAR(LoudnessOf(room.out, 8 * kRate, 11 * kRate), LoudnessOf(room.near, 8 * kRate, 11 * kRate), 3)
            << "the user's voice during double talk";
        EXPECT_NEAR(LoudnessOf(room.out, 11 * kRate, 15 * kRate), LoudnessOf(room.near, 11 * kRate, 15 * kRate), 1);
        if (pathDelay > 0) {
            EXPECT_NEAR(double(processor.echoPathDelay()), pathDelay * kRate, 480);
        }
    }
}

TEST(Processing, InASpeechRoomTheEchoLeftIsNeitherSpeechNorLevelledUpButTheUserIs) {
    // As above, in a speech room, from a loudspeaker that distorts: what the
    // canceller leaves of the echo would be raised to a voice by the gain if
    // the detector took it for speech.
    std::vector<short> far = FarSpeech(), near(size_t(16 * kRate));
    far.resize(size_t(11 * kRate));
    std::vector<short> user = NearSpeech();
    user.resize(std::min(user.size(), size_t(8 * kRate)));
    MixAt(near, user, 8 * kRate);
    MixAt(near, Noise(near.size(), -65, true, 31), 0);
    audio::MicrophoneProcessor processor({});
    processor.SetSpeech(true);
    Room room = RunRoom(processor, far, near, 0.316, 0.0, true);
    auto speechIn = [&](double from, double to) {
        size_t n = 0;
        for (size_t b = size_t(from * 100); b < size_t(to * 100) && b < room.speech.size(); ++b) n += room.speech[b];
        return n;
    };
    EXPECT_LE(speechIn(5.5, 8), 5u) << "blocks of the echo alone taken for speech";
    EXPECT_LT(LoudnessOf(room.out, 11 * kRate / 2, 8 * kRate), LoudnessOf(room.mic, 11 * kRate / 2, 8 * kRate) - 40);
    EXPECT_GE(speechIn(8, 11), 100u) << "the user, talking over the far end, is not heard (of 300 blocks)";
    EXPECT_GE(speechIn(11, 15), 150u) << "the user alone is not heard (of 400 blocks)";
}

TEST(ResidualEchoGate, CutsEchoAndLeaksButNotTheUserAndForgetsAPathThatWent) {
    audio::ResidualEchoGate gate;
    std::vector<std::int16_t> block(kBlock);
    auto run = [&](double played, double before, double after) {
        std::fill(block.begin(), block.end(), std::int16_t{1000});
        return gate.Process(block.data(), block.size(), played, before, after);
    };
    // Nothing played yet: a block the canceller took much out of is still not judged.
    EXPECT_FALSE(run(0, 1000, 10));
    // A block the canceller took 20 dB out of was echo: cut, ramping down over the block.
    EXPECT_TRUE(run(3000, 1000, 100));
    EXPECT_LT(block.front(), 1000);
    EXPECT_NEAR(block.back(), 1000 * audio::ResidualEchoGate::kCut, 1);
    for (int i = 0; i < 50; ++i) run(3000, 1000, 100);  // the path's loss: 10 dB
    // The filter leaks (a path that moved): no louder than the echo, still cut.
    EXPECT_TRUE(run(3000, 1500, 1400));
    // The user talks over the far end, well above its echo: passes whole, ramping back up.
    EXPECT_FALSE(run(3000, 3000, 2900));
    EXPECT_EQ(block.back(), 1000);
    EXPECT_FALSE(run(3000, 3000, 2900));
    EXPECT_EQ(block.front(), 1000);
    // A headset now: no echo any more, and a soft voice while the far end talks is cut at
    // first, but not for longer than the gate takes to forget the path.
    int cut = 0;
    for (int i = 0; i < 1000; ++i) cut += run(3000, 800, 790);
    EXPECT_GT(cut, 0);
    EXPECT_LE(cut, audio::ResidualEchoGate::kForgetBlocks + 1);
    EXPECT_FALSE(run(3000, 800, 790));
}

TEST(Processing, StationaryNoiseIsNoSpeechAndSpeechOverItIsCleanedAndLevelled) {
    audio::MicrophoneProcessor processor({});
    processor.SetSpeech(true);
    ASSERT_TRUE(processor.detects());
    // 20 s of -50 dBFS noise, white then pink: no block counts as speech.
    for (bool pink : {false, true}) {
        Room room = RunRoom(processor, {}, Noise(10 * kRate, -50, pink, 11), 0, 0);
        size_t speech = std::count(room.speech.begin(), room.speech.end(), true);
        EXPECT_LE(speech, room.speech.size() / 100) << (pink ? "pink" : "white");
    }
    // Speech over noise: detected, raised when quiet, and well above the pauses.
    struct Case {
        double speech, noise, minContrast, minRaise;
    };
    const std::vector<short> words = qmtest::SpeechSample(
        "Let us meet at the bridge in five minutes. Does anybody have a spare key? I will bring mine, and the map.",
        -26);
    for (const Case& c : {Case{-26, -40, 22, -10}, Case{-40, -50, 18, 12}}) {
        SCOPED_TRACE(c.speech);
        std::vector<short> clean(words.size());
        MixAt(clean, words, 0, std::pow(10.0, (c.speech + 26) / 20));
        std::vector<short> mic = Noise(clean.size() + 2 * kRate, c.noise, true, 12);
        MixAt(mic, clean, kRate);
        audio::MicrophoneProcessor fresh({});  // in a room of its own noise
        fresh.SetSpeech(true);
        Room room = RunRoom(fresh, {}, mic, 0, 0);
        size_t spoken = 0, detected = 0, speechBlocks = 0, pauseBlocks = 0;
        double speechEnergy = 0, pauseEnergy = 0;
        for (size_t b = 0; b < room.speech.size(); ++b) {
            size_t at = b * kBlock;
            double level = at >= kRate && at - kRate < clean.size() ? LoudnessOf(clean, at - kRate, at - kRate + kBlock)
                                                                    : -200;
            double out = std::pow(10.0, LoudnessOf(room.out, at, at + kBlock) / 10.0);
            if (level > c.speech - 15) {
                ++spoken;
                detected += room.speech[b];
                speechEnergy += out;
                ++speechBlocks;
            } else if (level <= -200 && at > 3 * kRate / 2) {
                pauseEnergy += out;
                ++pauseBlocks;
            }
        }
        // (The transmitter's hangover bridges what the detector misses inside words.)
        EXPECT_GE(detected * 100, spoken * 70) << detected << " of " << spoken << " spoken blocks";
        double speechLevel = 10 * std::log10(speechEnergy / double(speechBlocks));
        double pauseLevel = 10 * std::log10(pauseEnergy / double(pauseBlocks));
        EXPECT_GT(speechLevel - pauseLevel, c.minContrast) << "speech " << speechLevel << " dBFS, pauses " << pauseLevel;
        EXPECT_GT(speechLevel, LoudnessOf(clean, 0, clean.size()) + c.minRaise) << "gain";
    }
}

TEST(Processing, SpeechIsCleanedWithoutDelayingIt) {
    // Every millisecond the microphone's processing holds the voice back is
    // one more between a mouth and an ear: the speech comes out where it went
    // in (the suppressor's filter is centred 1 ms back), still itself.
    const std::vector<short> words = qmtest::SpeechSample("Can everybody hear me now? Then let us start.", -26);
    std::vector<short> mic = Noise(words.size() + 2 * kRate, -55, true, 13);
    MixAt(mic, words, kRate);
    audio::MicrophoneProcessor processor({});
    processor.SetSpeech(true);
    Room room = RunRoom(processor, {}, mic, 0, 0);
    double best = -1;
    size_t bestLag = 0;
    for (size_t lag = 0; lag < 20 * 48; ++lag) {
        double product = 0, in = 0, out = 0;
        for (size_t i = 0; i < words.size(); i += 2) {
            const double x = words[i], y = room.out[kRate + i + lag];
            product += x * y;
            in += x * x;
            out += y * y;
        }
        const double correlation = product / std::sqrt(in * out + 1);
        if (correlation > best) best = correlation, bestLag = lag;
    }
    EXPECT_LE(bestLag, 72u) << "the speech comes out " << double(bestLag) / 48 << " ms late";
    EXPECT_GT(best, 0.85) << "the speech is no longer itself";
}

TEST(Processing, AMusicRoomLetsASteadyToneThroughUnchanged) {
    audio::MicrophoneProcessor processor({});
    processor.SetSpeech(false);
    EXPECT_FALSE(processor.detects());
    std::vector<short> tone(10 * kRate);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<short>(6000 * std::sin(2 * M_PI * 440 * double(i) / kRate));
    // The loudspeaker plays another tone at the same time: no echo of it reaches this microphone.
    std::vector<short> other(tone.size());
    for (size_t i = 0; i < other.size(); ++i) other[i] = static_cast<short>(6000 * std::sin(2 * M_PI * 660 * double(i) / kRate));
    Room room = RunRoom(processor, other, tone, 0, 0);
    EXPECT_EQ(std::count(room.speech.begin(), room.speech.end(), false), 0);
    EXPECT_NEAR(LoudnessOf(room.out, 2 * kRate, tone.size()), LoudnessOf(tone, 2 * kRate, tone.size()), 1);
}

// --- the transmitter ---------------------------------------------------------------------------

audio::ProcessingSettings NoProcessing() { return {false, false, false, false}; }

struct Sent {
    std::vector<std::string> packets;
    std::vector<short> samples;
};

std::unique_ptr<audio::Transmitter> MakeTransmitter(Sent& sent, const audio::ProcessingSettings& settings) {
    auto t = std::make_unique<audio::Transmitter>(
        [&sent](std::string p) { sent.packets.push_back(std::move(p)); },
        [&sent](const std::int16_t* s, size_t n) { sent.samples.insert(sent.samples.end(), s, s + n); }, nullptr);
    t->SetProcessing(settings);
    t->SetSending(true);
    return t;
}

TEST(Transmitter, MicrophonePiecesOfAnySizeBecomeWholeFramesInOrder) {
    Sent sent;
    auto t = MakeTransmitter(sent, NoProcessing());
    t->SetInputActive(audio::Transmitter::Input::Mic, true);
    std::vector<std::int16_t> input(3 * kRate);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::int16_t>(Mark(static_cast<std::int64_t>(i)) / 2 + 2000);
    std::mt19937 random(5);
    std::uniform_int_distribution<size_t> size(1, 2000);
    for (size_t at = 0; at < input.size();) {
        size_t n = std::min(size(random), input.size() - at);
        t->OnSamples(audio::Transmitter::Input::Mic, input.data() + at, n);
        at += n;
    }
    ASSERT_EQ(sent.samples.size(), input.size() / audio::kFrameSamples * audio::kFrameSamples);
    for (size_t i = 0; i < sent.samples.size(); ++i) ASSERT_EQ(sent.samples[i], input[i]) << "sample " << i;
    EXPECT_EQ(sent.packets.size(), input.size() / audio::kFrameSamples);
}

TEST(Transmitter, ASharedProgramFollowingTheMicrophoneHasNoHolesAndABoundedBacklog) {
    Sent sent;
    auto t = MakeTransmitter(sent, NoProcessing());
    t->SetInputActive(audio::Transmitter::Input::Mic, true);
    t->SetInputActive(audio::Transmitter::Input::Program, true);
    std::vector<std::int16_t> silence(audio::kFrameSamples), piece(480);
    std::int64_t programAt = 0;  // the program plays Mark(0), Mark(1), ...
    auto program = [&](int pieces) {
        for (int p = 0; p < pieces; ++p) {
            for (size_t i = 0; i < piece.size(); ++i) piece[i] = Mark(programAt++);
            t->OnSamples(audio::Transmitter::Input::Program, piece.data(), piece.size());
        }
    };
    // The program's 10 ms pieces and the microphone's 20 ms frames each come up to 4 ms early or late.
    std::mt19937 random(9);
    std::uniform_real_distribution<double> jitter(-4, 4);
    double nextPiece = 3 + jitter(random), nextFrame = 20 + jitter(random);
    int pieces = 0, frames = 0;
    while (frames < 500) {
        if (nextPiece < nextFrame) {
            program(1);
            nextPiece = 3 + 10.0 * ++pieces + jitter(random);
        } else {
            t->OnSamples(audio::Transmitter::Input::Mic, silence.data(), silence.size());
            nextFrame = 20 + 20.0 * ++frames + jitter(random);
        }
    }
    // Once it starts, the program's sound comes out whole: every sample follows the one before.
    auto follows = [](std::int16_t before) { return static_cast<std::int16_t>(before == 30000 ? 1 : before + 1); };
    size_t first = 0;
    while (first < sent.samples.size() && sent.samples[first] == 0) ++first;
    ASSERT_LT(first, 3 * audio::kFrameSamples) << "the shared sound starts late";
    size_t breaks = 0;
    for (size_t i = first + 1; i < sent.samples.size(); ++i) breaks += sent.samples[i] != follows(sent.samples[i - 1]);
    EXPECT_EQ(breaks, 0u) << "holes in the shared sound";

    // A program that delivers faster than the microphone never lags more than the backlog's bound.
    for (int frame = 0; frame < 200; ++frame) {
        program(3);
        t->OnSamples(audio::Transmitter::Input::Mic, silence.data(), silence.size());
    }
    std::int64_t lastSent = sent.samples.back();
    std::int64_t newest = Mark(programAt - 1);
    std::int64_t lag = (newest - lastSent + 30000) % 30000;
    EXPECT_LE(lag, static_cast<std::int64_t>(audio::Transmitter::kMaxBacklog)) << "the shared sound lags " << lag;
}

TEST(Transmitter, ASpeechRoomSendsSpeechButNotNoiseAndEndsEachTransmission) {
    Sent sent;
    auto t = MakeTransmitter(sent, {});
    t->Configure(audio::OpusUse::Speech, 24000);
    t->SetInputActive(audio::Transmitter::Input::Mic, true);
    std::vector<short> noise = Noise(10 * kRate, -50, true, 21);
    for (size_t at = 0; at < noise.size(); at += audio::kFrameSamples)
        t->OnSamples(audio::Transmitter::Input::Mic, noise.data() + at, audio::kFrameSamples);
    size_t bytes = 0;
    for (const std::string& p : sent.packets) bytes += p.size();
    EXPECT_LE(bytes, 10 * 1000u) << "noise alone is sent: " << sent.packets.size() << " packets";

    sent.packets.clear();
    std::vector<short> speech = Noise(6 * kRate, -50, true, 22);
    MixAt(speech, NearSpeech(), kRate / 2);
    speech.resize(speech.size() + 2 * kRate);
    for (size_t at = 0; at + audio::kFrameSamples <= speech.size(); at += audio::kFrameSamples)
        t->OnSamples(audio::Transmitter::Input::Mic, speech.data() + at, audio::kFrameSamples);
    ASSERT_GT(sent.packets.size(), 100u) << "speech over the noise is not sent";
    proto::ReceivedVoice v;
    ASSERT_TRUE(proto::ParseClientVoice(sent.packets.back(), v));
    EXPECT_TRUE(v.last) << "the transmission's end is not marked";
}

TEST(Transmitter, ASharedProgramsToneIsSentInASpeechRoom) {
    Sent sent;
    auto t = MakeTransmitter(sent, {});
    t->Configure(audio::OpusUse::Speech, 24000);
    t->SetInputActive(audio::Transmitter::Input::Mic, true);
    t->SetInputActive(audio::Transmitter::Input::Program, true);
    std::vector<std::int16_t> tone(480), noise = Noise(audio::kFrameSamples, -70, false, 1);
    size_t n = 0;
    for (int frame = 0; frame < 500; ++frame) {
        for (int half = 0; half < 2; ++half) {
            for (auto& v : tone) v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(n++) / kRate));
            t->OnSamples(audio::Transmitter::Input::Program, tone.data(), tone.size());
        }
        t->OnSamples(audio::Transmitter::Input::Mic, noise.data(), noise.size());
    }
    EXPECT_GE(sent.packets.size(), 490u) << "the shared tone is not sent throughout";
}

}  // namespace
}  // namespace qmnim
