#include "outside/qm_nim/audio/jitter_buffer.h"

#include <algorithm>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
namespace {
constexpr auto kWindow = std::chrono::milliseconds(500);
constexpr auto kCalmBeforeShrink = std::chrono::seconds(5);
constexpr size_t kDropPerPull = kSamplesPerMs;  // at most 1 ms dropped per playback request
constexpr size_t kHardLimitMs = 400;            // beyond this nobody waits: cut to the target at once
}  // namespace

void JitterBuffer::Push(const std::int16_t* samples, size_t count, bool first, Clock::time_point now) {
    if (first && !playing_) samples_.clear();
    ending_ = false;
    // The fill just before a frame arrives is the buffer's slack: the lowest
    // one in a window says how much could go without an underrun.
    if (playing_) windowMin_ = std::min(windowMin_, samples_.size());
    if (now - windowStart_ >= kWindow) {
        // A frame's worth is used up between two arrivals; the rest of the target is the margin.
        size_t slack = static_cast<size_t>(targetMs_) * kSamplesPerMs - kFrameSamples;
        if (windowMin_ != SIZE_MAX && windowMin_ > slack + 5 * kSamplesPerMs)
            dropBudget_ = windowMin_ - slack - 2 * kSamplesPerMs;
        windowMin_ = SIZE_MAX;
        windowStart_ = now;
        if (targetMs_ > kMinTargetMs && now - lastTargetChange_ >= kCalmBeforeShrink) {
            targetMs_ = std::max(kMinTargetMs, targetMs_ - 5);
            lastTargetChange_ = now;
        }
    }
    samples_.insert(samples_.end(), samples, samples + count);
    size_t hardLimit = kHardLimitMs * kSamplesPerMs;
    if (samples_.size() > hardLimit) {
        size_t keep = static_cast<size_t>(targetMs_) * kSamplesPerMs;
        droppedSamples_ += samples_.size() - keep;
        samples_.erase(samples_.begin(), samples_.end() - static_cast<std::ptrdiff_t>(keep));
        dropBudget_ = 0;
    }
    if (!playing_ && samples_.size() >= static_cast<size_t>(targetMs_) * kSamplesPerMs) playing_ = true;
}

size_t JitterBuffer::MixInto(std::int16_t* out, size_t count, float gain) {
    if (!playing_) {
        // A short last transmission never reaches the target: play it anyway.
        if (!ending_ || samples_.empty()) return 0;
        playing_ = true;
    }
    if (dropBudget_ > 0 && samples_.size() > count + kDropPerPull) {
        size_t drop = std::min(dropBudget_, kDropPerPull);
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
        dropBudget_ -= drop;
        droppedSamples_ += drop;
    }
    size_t n = std::min(count, samples_.size());
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(out[i] + samples_[i] * gain, -32768.0f, 32767.0f));
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(n));
    if (n < count) {
        playing_ = false;  // fill up to the target again before playing on
        if (!ending_) {
            ++underruns_;
            targetMs_ = std::min(kMaxTargetMs, targetMs_ + kUnderrunStepMs);
            lastTargetChange_ = Clock::now();
        }
        ending_ = false;
    }
    return n;
}

}  // namespace qmnim::audio
