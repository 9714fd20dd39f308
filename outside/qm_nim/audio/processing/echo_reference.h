// What the loudspeaker played, kept by the time each sample is heard, so
// that the echo canceller gets for each captured block the samples that
// were heard while that block was captured: the reference of the echo.
//
// Played samples are placed where the sound server's latency puts them: a
// playback that underran leaves a gap of silence, as the loudspeaker did, so
// the canceller's model of the echo path stays right across it. The
// reference is read as one continuous stream, by the capture's clock: a
// small disagreement between the two clocks (drift) is followed a sample at
// a time, a larger one (a capture that lost samples) at once. What the
// latencies miss (an echo path that adds its own delay) is `SetExtraDelay`.
//
// Thread rules: the calls may come from any thread (a lock held for a copy);
// nothing allocates after construction.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qmnim::audio {

class EchoReference {
public:
    using Clock = std::chrono::steady_clock;

    // Keeps `capacity` samples (48 kHz) of what was heard.
    explicit EchoReference(size_t capacity);

    // Samples handed to the loudspeaker; the first is heard at `firstPlaysAt`.
    void OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt);

    enum class Take { Aligned, Resynced, Silent };
    // Fills `out` with the `count` samples heard while the captured block
    // whose first sample was heard at `capturedAt` was recorded, `lead`
    // samples ahead of it (so that the echo lags its reference by `lead` and
    // stays inside the canceller's window when the times are a little off).
    // Resynced: the stream starts anew (the first block, a new extra delay);
    // Silent: nothing was heard (`out` is zeros).
    Take Next(std::int16_t* out, size_t count, Clock::time_point capturedAt);

    // Delay of the echo path beyond the sound server's latencies (samples).
    void SetExtraDelay(std::int64_t samples);
    std::int64_t extraDelay() const;
    void SetLead(std::int64_t samples);

    // Up to this far from where the capture's clock puts it, the stream is
    // nudged by a sample a block; farther, it steps there.
    static constexpr std::int64_t kNudgeFrom = 48;  // 1 ms
    static constexpr std::int64_t kStepFrom = 96;   // 2 ms

private:
    // The position (in samples) of time `t` on the common time line.
    std::int64_t PositionOf(Clock::time_point t) const;

    mutable std::mutex lock_;
    std::vector<std::int16_t> ring_;  // by position modulo its size
    bool started_ = false;
    Clock::time_point epoch_{};      // position 0
    std::int64_t heardUntil_ = 0;    // after the last sample placed
    bool reading_ = false;
    std::int64_t readAt_ = 0;  // the next reference sample handed out
    std::int64_t extraDelay_ = 0;
    std::int64_t lead_ = 0;
};

}  // namespace qmnim::audio
