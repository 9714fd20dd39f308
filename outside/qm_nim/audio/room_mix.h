// What the user hears: every speaker of the room decoded into a jitter buffer
// of its own and mixed on demand. Voice comes in on the network thread,
// playback takes it out on the sound server's thread; levels are read by the
// event thread. One lock guards it all; each holder keeps it for microseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "outside/qm_nim/audio/jitter_buffer.h"
#include "outside/qm_nim/audio/opus_codec.h"

namespace qmnim::audio {

class RoomMix {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::uint32_t kLocalSpeaker = 0xFFFFFFFFu;  // the microphone in test mode

    // One Opus packet of `speaker`, with its sequence number (10 ms units).
    void OnPacket(std::uint32_t speaker, std::uint64_t sequence, std::string_view opus, bool last);
    // Plain samples of the local speaker (the "hear yourself" test).
    void OnLocalSamples(const std::int16_t* samples, size_t count);
    // The mix of everyone for the next `count` samples (silence where nobody speaks).
    void Pull(std::int16_t* out, size_t count);

    void SetGain(float gain);
    // Forgets every speaker (leaving a room, losing the connection).
    void Clear();
    void Forget(std::uint32_t speaker);

    struct Level {
        std::uint32_t speaker;
        int level;  // 0..100, of the last 100 ms
        bool speaking;
    };
    std::vector<Level> Levels(Clock::time_point now) const;
    // Whether anyone was heard within the last `within`.
    bool AnyoneSpeaking(Clock::time_point now, std::chrono::milliseconds within) const;
    // Frames received so far (all speakers), for measurements.
    std::uint64_t framesReceived() const;

private:
    struct Speaker {
        Decoder decoder;
        JitterBuffer buffer;
        std::uint64_t nextSequence = 0;
        bool inTransmission = false;
        int level = 0;
        Clock::time_point lastHeard{};
    };
    Speaker& SpeakerLocked(std::uint32_t id);

    mutable std::mutex lock_;
    std::map<std::uint32_t, std::unique_ptr<Speaker>> speakers_;
    std::vector<std::int16_t> pcm_;
    float gain_ = 1.0f;
    std::uint64_t frames_ = 0;
};

}  // namespace qmnim::audio
