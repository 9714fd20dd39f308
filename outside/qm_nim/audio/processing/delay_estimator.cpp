#include "outside/qm_nim/audio/processing/delay_estimator.h"

#include <algorithm>
#include <cmath>

namespace qmnim::audio {
namespace {

constexpr float kActiveRms = 100.0f;     // about -50 dBFS: the far end says something
constexpr float kConfidence = 8.0f;      // the peak against the mean of the correlation
constexpr std::int64_t kAgree = 2;       // 4 kHz samples (0.5 ms) between two searches
constexpr size_t kSearchEvery = 1000;    // a quarter second of far-end sound, at 4 kHz
constexpr float kLowHz = 150, kHighHz = 1800;  // the band searched, where the reduction is clean

}  // namespace

DelayEstimator::DelayEstimator()
    : fft_(kHistory), reference_(kHistory), microphone_(kHistory), a_(kHistory), b_(kHistory), smoothed_(kHistory) {}

void DelayEstimator::Restart() {
    written_ = 0;
    referenceSum_ = microphoneSum_ = 0;
    summed_ = 0;
    activeSinceSearch_ = 0;
    smoothedValid_ = false;
    previous_.reset();
    ready_.reset();
}

void DelayEstimator::Add(const std::int16_t* reference, const std::int16_t* microphone, size_t count) {
    double energy = 0;
    for (size_t i = 0; i < count; ++i) energy += double(reference[i]) * reference[i];
    bool active = count > 0 && std::sqrt(energy / double(count)) >= kActiveRms;
    for (size_t i = 0; i < count; ++i) {
        referenceSum_ += reference[i];
        microphoneSum_ += microphone[i];
        if (++summed_ < kDecimation) continue;
        reference_[written_ % kHistory] = referenceSum_;
        microphone_[written_ % kHistory] = microphoneSum_;
        ++written_;
        if (active) ++activeSinceSearch_;
        referenceSum_ = microphoneSum_ = 0;
        summed_ = 0;
    }
    if (activeSinceSearch_ >= kSearchEvery && written_ >= kWindow + (kEarliest + kLatest) / kDecimation) {
        activeSinceSearch_ = 0;
        Search();
    }
}

std::optional<std::int64_t> DelayEstimator::TakeEstimate() {
    std::optional<std::int64_t> out = ready_;
    ready_.reset();
    return out;
}

void DelayEstimator::Search() {
    constexpr size_t earliest = static_cast<size_t>(kEarliest) / kDecimation;
    constexpr size_t latest = static_cast<size_t>(kLatest) / kDecimation;
    static_assert(kWindow + earliest + latest <= kHistory, "the search must not wrap around");
    // The microphone's window ends `earliest` before the newest sample, so
    // that an echo that comes before its reference is found too; the
    // reference's runs from `latest` before the window to the newest.
    const size_t end = written_;
    const size_t micStart = end - earliest - kWindow;
    const size_t refStart = micStart - latest;
    std::fill(a_.begin(), a_.end(), std::complex<float>());
    std::fill(b_.begin(), b_.end(), std::complex<float>());
    for (size_t j = 0; j < kWindow; ++j) a_[j] = microphone_[(micStart + j) % kHistory];
    for (size_t i = 0; i < kWindow + earliest + latest; ++i) b_[i] = reference_[(refStart + i) % kHistory];
    fft_.Transform(a_.data(), false);
    fft_.Transform(b_.data(), false);
    // Cross spectrum conj(A)·B, each bin reduced to its phase; bins outside the band are left out.
    const float binHz = 4000.0f / float(kHistory);
    for (size_t k = 0; k < kHistory; ++k) {
        size_t folded = std::min(k, kHistory - k);
        float hz = float(folded) * binHz;
        std::complex<float> x(a_[k].real() * b_[k].real() + a_[k].imag() * b_[k].imag(),
                              a_[k].real() * b_[k].imag() - a_[k].imag() * b_[k].real());
        float magnitude = std::hypot(x.real(), x.imag());
        std::complex<float> phase = hz >= kLowHz && hz <= kHighHz && magnitude > 1e-9f ? x / magnitude
                                                                                          : std::complex<float>();
        smoothed_[k] = smoothedValid_ ? 0.5f * smoothed_[k] + 0.5f * phase : phase;
    }
    smoothedValid_ = true;
    std::copy(smoothed_.begin(), smoothed_.end(), a_.begin());
    fft_.Transform(a_.data(), true);
    // a_[t] = sum over j of mic[j] ref[j + t]: lag k = latest - t.
    float best = 0, total = 0;
    size_t bestAt = 0;
    const size_t lags = earliest + latest + 1;
    for (size_t t = 0; t < lags; ++t) {
        float v = std::abs(a_[t].real());
        total += v;
        if (v > best) {
            best = v;
            bestAt = t;
        }
    }
    if (total <= 0 || best < kConfidence * total / float(lags)) {
        previous_.reset();
        return;
    }
    std::int64_t lag = static_cast<std::int64_t>(latest) - static_cast<std::int64_t>(bestAt);
    if (previous_ && std::llabs(*previous_ - lag) <= kAgree) ready_ = lag * static_cast<std::int64_t>(kDecimation);
    previous_ = lag;
}

}  // namespace qmnim::audio
