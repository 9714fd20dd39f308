#include "outside/qm_nim/audio/processing/echo_reference.h"

#include <algorithm>
#include <cmath>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {

EchoReference::EchoReference(size_t capacity) : ring_(std::max<size_t>(capacity, 1)) {}

namespace {

size_t Slot(std::int64_t position, size_t size) {
    std::int64_t n = static_cast<std::int64_t>(size);
    return static_cast<size_t>(((position % n) + n) % n);
}

}  // namespace

std::int64_t EchoReference::PositionOf(Clock::time_point t) const {
    return std::llround(std::chrono::duration<double>(t - epoch_).count() * kSampleRate);
}

void EchoReference::OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) {
        epoch_ = firstPlaysAt;
        started_ = true;
        heardUntil_ = 0;
    }
    const std::int64_t size = static_cast<std::int64_t>(ring_.size());
    std::int64_t at = PositionOf(firstPlaysAt);
    if (std::llabs(at - heardUntil_) <= kGapFrom) at = heardUntil_;  // the next piece
    // A gap (an underrun) was heard as silence.
    for (std::int64_t p = std::max(heardUntil_, at - size); p < at; ++p) ring_[Slot(p, ring_.size())] = 0;
    for (size_t i = 0; i < count; ++i) ring_[Slot(at + static_cast<std::int64_t>(i), ring_.size())] = samples[i];
    heardUntil_ = std::max(heardUntil_, at + static_cast<std::int64_t>(count));
}

EchoReference::Take EchoReference::Next(std::int16_t* out, size_t count, Clock::time_point capturedAt) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!started_) {
        std::fill(out, out + count, 0);
        return Take::Silent;
    }
    const std::int64_t target = PositionOf(capturedAt) - extraDelay_ + lead_;
    Take result = Take::Aligned;
    if (!reading_) {
        readAt_ = target;
        reading_ = true;
        result = Take::Resynced;
    } else if (moved_) {
        moved_ = false;
        result = Take::Resynced;
    } else if (target - readAt_ > kStepFrom || target - readAt_ < -kStepFrom) {
        readAt_ = target;  // the capture stepped
        ++slips_.steps;
    }
    lastTarget_ = target;
    lastRead_ = readAt_;
    const std::int64_t size = static_cast<std::int64_t>(ring_.size());
    const std::int64_t oldest = heardUntil_ - size;
    bool any = false;
    for (size_t i = 0; i < count; ++i) {
        std::int64_t p = readAt_ + static_cast<std::int64_t>(i);
        out[i] = p >= oldest && p < heardUntil_ ? ring_[Slot(p, ring_.size())] : 0;
        any = any || out[i] != 0;
    }
    readAt_ += static_cast<std::int64_t>(count);
    if (!any && result == Take::Aligned) result = Take::Silent;
    return result;
}

void EchoReference::Move(std::int64_t samples) {
    std::lock_guard<std::mutex> lock(lock_);
    if (samples == 0) return;
    ++slips_.moves;
    extraDelay_ += samples;
    readAt_ -= samples;
    moved_ = reading_;
}

void EchoReference::Anchor() {
    std::lock_guard<std::mutex> lock(lock_);
    if (reading_) extraDelay_ += lastTarget_ - lastRead_;
}

std::int64_t EchoReference::extraDelay() const {
    std::lock_guard<std::mutex> lock(lock_);
    return extraDelay_;
}

EchoReference::Slips EchoReference::slips() const {
    std::lock_guard<std::mutex> lock(lock_);
    return slips_;
}

void EchoReference::SetLead(std::int64_t samples) {
    std::lock_guard<std::mutex> lock(lock_);
    lead_ = samples;
}

}  // namespace qmnim::audio
