// What the user hears: every speaker of the room with a jitter buffer (and
// decoder) of its own, mixed on demand. Voice comes in on the network
// thread, playback takes it out on the sound server's thread; levels are
// read by the event thread. One lock guards it all; each holder keeps it for
// microseconds (decoding is a frame at a time).
//
// Bounded whatever the senders do: at most kMaxSpeakers speakers at a time
// (a newcomer waits for a place until one has been quiet for a second), each
// freed after kForgetAfter without a packet, each holding at most
// JitterBuffer::kMaxPackets packets of at most proto::kMaxVoicePacket bytes:
// about 3.5 MB in all (decoder state included).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "outside/qm_nim/audio/jitter_buffer.h"

namespace qmnim::audio {

class RoomMix {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kMaxSpeakers = 32;
    static constexpr std::chrono::seconds kForgetAfter{4};
    static constexpr std::uint32_t kLocalSpeaker = 0xFFFFFFFFu;  // the microphone in test mode

    // One Opus packet of `speaker`, with its sequence number (an order, in
    // whatever unit the sender counts).
    void OnPacket(std::uint32_t speaker, std::uint64_t sequence, std::string_view opus, bool last,
                  Clock::time_point now = Clock::now());
    // Plain samples of the user's own microphone (the "hear yourself" test).
    void OnLocalSamples(const std::int16_t* samples, size_t count);
    // The mix of everyone for the next `count` samples (silence where nobody speaks).
    void Pull(std::int16_t* out, size_t count, Clock::time_point now = Clock::now());
    // Whether a pull would give nothing but silence now: nobody plays or
    // waits to. A loudspeaker that paused asks this instead of pulling, and
    // still counts as playing the room (what arrives is kept for it).
    bool Idle(Clock::time_point now = Clock::now());

    void SetGain(float gain);
    // Forgets every speaker (leaving a room, losing the connection).
    void Clear();
    void Forget(std::uint32_t speaker);

    struct Level {
        std::uint32_t speaker;
        int level;  // 0..100, of what was played last
        bool speaking;
    };
    std::vector<Level> Levels(Clock::time_point now) const;
    // Whether anyone was heard within the last `within`.
    bool AnyoneSpeaking(Clock::time_point now, std::chrono::milliseconds within) const;
    // Frames received so far (all speakers), for measurements.
    std::uint64_t framesReceived() const;
    // Speakers held now (decoders alive).
    size_t speakers() const;
    // Totals over every speaker so far, for tests and measurements.
    JitterBuffer::Counters counters() const;

private:
    struct Speaker {
        JitterBuffer buffer;
        Clock::time_point lastHeard{};
    };
    void SweepLocked(Clock::time_point now);
    void RetireLocked(std::map<std::uint32_t, std::unique_ptr<Speaker>>::iterator it);

    mutable std::mutex lock_;
    std::map<std::uint32_t, std::unique_ptr<Speaker>> speakers_;
    // The user's own microphone in test mode: plain samples, a frame ahead.
    std::deque<std::int16_t> local_;
    bool localPlaying_ = false;
    float gain_ = 1.0f;
    std::uint64_t frames_ = 0;
    Clock::time_point lastPull_{};
    Clock::time_point lastSweep_{};
    JitterBuffer::Counters retired_;  // of the speakers already freed
};

}  // namespace qmnim::audio
