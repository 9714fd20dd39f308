// One speaker's decoded sound waiting to be played. Frames arrive in bursts
// (20 ms each, over TCP), playback takes a few milliseconds at a time: the
// buffer first fills to its target, then plays. The target starts at one
// frame (what a steady sender needs); an underrun raises it a little (up to
// kMaxTargetMs) and a few calm seconds lower it again, so that one stall of a
// busy machine does not cost delay for long. Drift control: when even the
// lowest fill of the last half second stays well above what the target needs,
// the surplus is dropped a millisecond at a time, so the delay cannot grow
// over a long call.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

namespace qmnim::audio {

class JitterBuffer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMinTargetMs = 20;
    static constexpr int kUnderrunStepMs = 5;
    static constexpr int kMaxTargetMs = 120;

    // A decoded frame; `first` starts a new transmission.
    void Push(const std::int16_t* samples, size_t count, bool first, Clock::time_point now);
    // The speaker ended its transmission: what is buffered still plays, then silence.
    void EndOfTransmission() { ending_ = true; }
    // Adds up to `count` samples scaled by `gain` to `out`; returns how many
    // samples it had (the rest of `out` is left as it was).
    size_t MixInto(std::int16_t* out, size_t count, float gain);

    size_t buffered() const { return samples_.size(); }
    int targetMs() const { return targetMs_; }
    std::uint64_t underruns() const { return underruns_; }
    std::uint64_t dropped() const { return droppedSamples_; }

private:
    std::deque<std::int16_t> samples_;
    bool playing_ = false;
    bool ending_ = false;
    int targetMs_ = kMinTargetMs;
    std::uint64_t underruns_ = 0;
    std::uint64_t droppedSamples_ = 0;
    // The lowest fill seen at a frame's arrival during the current window.
    size_t windowMin_ = SIZE_MAX;
    Clock::time_point windowStart_{};
    Clock::time_point lastTargetChange_{};
    size_t dropBudget_ = 0;
};

}  // namespace qmnim::audio
