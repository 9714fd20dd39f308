// What the loudspeaker played, kept by the time each sample is heard, so
// that the echo canceller gets for each captured block the samples that
// were heard while that block was captured: the reference of the echo.
//
// Played samples are placed where the sound server's latency puts them: a
// playback that underran leaves a gap of silence, as the loudspeaker did, so
// the canceller's model of the echo path stays right across it; a report a
// little off (the server interpolates its timing) is no gap, and the samples
// follow each other as they were heard.
//
// The reference is read as one continuous stream: each slip of it moves the
// echo under the canceller's filter, which then has to learn the path anew.
// So it follows the capture's clock only where that steps (a capture that
// lost samples), not the few milliseconds the capture's reports wander by.
// Where the echo really is the delay search tells: inside the canceller's
// window the stream stays put and takes the capture clock's present
// disagreement as its bias (`Anchor`); outside it, it moves (`Move`).
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
    // Resynced: the stream starts anew (the first block, a move);
    // Silent: nothing was heard (`out` is zeros).
    Take Next(std::int16_t* out, size_t count, Clock::time_point capturedAt);

    // The echo comes `samples` later than the stream has it (earlier when
    // negative): the stream starts anew that much earlier.
    void Move(std::int64_t samples);
    // The stream is where the echo is: the capture clock's disagreement with
    // it now is the clock's own, not a step.
    void Anchor();
    // How much later than the sound server's latencies say the echo comes,
    // as moved and anchored (48 kHz samples).
    std::int64_t extraDelay() const;
    void SetLead(std::int64_t samples);
    // The stream's slips so far, each one a path the canceller learns anew:
    // moves to where the echo was found, and steps with the capture's clock.
    struct Slips {
        std::uint32_t moves = 0, steps = 0;
    };
    Slips slips() const;

    // Farther than this from where the capture's clock puts it, the stream steps there.
    static constexpr std::int64_t kStepFrom = 960;  // 20 ms
    // Played samples this close to the end of the last piece follow it.
    static constexpr std::int64_t kGapFrom = 48;  // 1 ms

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
    bool moved_ = false;  // the next block starts anew
    // Where the capture's clock put the last block, and where it was read.
    std::int64_t lastTarget_ = 0, lastRead_ = 0;
    std::int64_t extraDelay_ = 0;
    std::int64_t lead_ = 0;
    Slips slips_;
};

}  // namespace qmnim::audio
