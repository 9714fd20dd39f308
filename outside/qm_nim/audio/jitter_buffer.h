// One speaker's voice waiting to be played: the encoded packets, ordered by
// their sequence numbers and decoded only when their turn to play comes, so
// that a gap can be filled from what the decoder knows: the next packet's
// in-band redundancy (Opus FEC) when it is already here, loss concealment
// otherwise.
//
// The sequence is an order, not a clock: senders count in different units
// (10 ms units, or one per packet), so the step between two packets is
// learnt from what arrives (the smallest difference within a talk spurt)
// and time comes from arrival and from the decoded length of each packet.
//
// Delay: a talk spurt starts playing once its first packet has waited the
// target less that packet's length (the target's jitter part), or once that
// much more than the first packet is here. The target follows the measured
// jitter (the spread of arrival times against the packets' places in the
// stream, over the last two seconds), plus a frame while the path loses
// packets (so the redundancy of the next packet can arrive in time), and
// comes back down when the path calms. Whatever piles up beyond it is
// dropped: bursts after a stall at once, a steady surplus by cuts inside
// frames (up to most of a frame each half second, joined where the sound
// repeats itself) down to where a spurt starts, so the delay neither grows
// over a long call nor stays higher after a stall.
//
// Not thread-safe: the room's mix guards it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "outside/qm_nim/audio/opus_codec.h"

namespace qmnim::audio {

class JitterBuffer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMinTargetMs = 20;
    static constexpr int kMaxTargetMs = 160;
    // Packets held at most (more than a second of 20 ms frames).
    static constexpr size_t kMaxPackets = 64;

    struct Counters {
        std::uint64_t played = 0;     // packets decoded and played
        std::uint64_t concealed = 0;  // frames made up for lost packets
        std::uint64_t stretched = 0;  // frames made up while waiting, kept as delay
        std::uint64_t recovered = 0;  // lost frames rebuilt from the next packet's redundancy
        std::uint64_t late = 0;       // packets that came after their turn (dropped)
        std::uint64_t dropped = 0;    // packets dropped to keep the delay down
        std::uint64_t shortened = 0;  // frames played shorter to keep the delay down
        std::uint64_t underruns = 0;  // nothing to play in the middle of a spurt
    };

    // Stores one packet. False when it is a copy, came after its turn, or is
    // not Opus. An empty `opus` with `last` only marks the spurt's end.
    bool Push(std::uint64_t sequence, std::string_view opus, bool last, Clock::time_point now);
    // Adds up to `count` samples scaled by `gain` to `out`; returns how many
    // it had (the rest of `out` is left as it was).
    size_t MixInto(std::int16_t* out, size_t count, float gain, Clock::time_point now);
    // Nobody plays the room: decodes and discards what waits, so that the
    // decoder and the level stay current and nothing piles up.
    void Discard();

    int targetMs() const { return targetMs_; }
    int bufferedMs() const;
    bool playing() const { return playing_; }
    int level() const { return level_; }  // 0..100, of the frame played last
    const Counters& counters() const { return counters_; }

private:
    struct Packet {
        std::string opus;
        size_t samples = 0;
        bool last = false;
    };
    struct Arrival {
        Clock::time_point at;
        double transitMs;
        std::uint64_t spurt;
    };

    // Puts the next frame into pcm_; false when there is nothing to play.
    bool NextFrame(Clock::time_point now);
    bool StartSpurt(Clock::time_point now);
    void PlayFront();
    void Conceal(size_t samples);
    size_t BufferedSamples() const;
    void DropFront();
    void TrimTo(size_t samples);
    void UpdateTarget(Clock::time_point now);
    void NoteArrival(std::uint64_t sequence, size_t samples, bool newSpurt, Clock::time_point now);
    void NoteLevelAfterPull(Clock::time_point now);
    // How long a spurt's first packet waits for the next: the target's jitter part.
    int StartWaitMs() const;

    Decoder decoder_;
    std::map<std::uint64_t, Packet> packets_;
    std::vector<std::int16_t> pcm_;  // the frame being played
    size_t pcmPos_ = 0;
    size_t frameSamples_ = 960;  // the length of the packets seen last

    bool playing_ = false;
    bool havePlayed_ = false;       // nextSequence_ means something
    std::uint64_t nextSequence_ = 0;
    bool nextKnown_ = false;        // false: a guess made before the step was known
    std::uint64_t step_ = 0;        // sequence step per packet, 0 until learnt
    bool haveLastArrival_ = false;
    std::uint64_t lastArrivalSequence_ = 0;
    bool lastArrivalClosed_ = false;  // it closed its spurt
    std::uint64_t spurtStep_ = 0;     // the smallest step seen in this spurt
    int spurtArrivals_ = 0;
    bool endAfterFront_ = false;    // the frame just played closed the spurt
    std::uint64_t concealedAhead_ = 0;  // frames made up while nothing was here
    int emptyConceals_ = 0;

    // Jitter: transit times of this spurt's packets, relative to its first.
    std::deque<Arrival> arrivals_;
    std::uint64_t spurt_ = 0;
    Clock::time_point spurtStart_{};
    std::uint64_t spurtFirstSequence_ = 0;
    Clock::time_point waitingSince_{};  // the first packet waiting for the spurt to start
    int targetMs_ = kMinTargetMs;
    int underrunBonusMs_ = 0;
    Clock::time_point lastUnderrun_{};
    // Recent losses (frames made up for lost packets), for the FEC margin.
    std::deque<Clock::time_point> losses_;

    // The lowest fill after a pull, per window: a steady surplus above what a spurt starts with.
    size_t windowMin_ = SIZE_MAX;
    Clock::time_point windowStart_{};
    size_t cutAhead_ = 0;  // samples to cut out of the next decoded frame
    size_t pullSamples_ = 0;  // the loudspeaker's piece: what it asked for last

    int level_ = 0;
    Counters counters_;
};

}  // namespace qmnim::audio
