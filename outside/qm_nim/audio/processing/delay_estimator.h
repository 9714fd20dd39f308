// How far the echo in the microphone lags the reference the canceller was
// given: the sound server's latencies do not know every delay of the echo
// path (a second device, a program that loops the sound back), and an echo
// outside the canceller's window is not cancelled at all.
//
// Both signals are reduced to 4 kHz and cross-correlated with phase
// transform weighting (every frequency counts alike, so speech gives one
// sharp peak at the echo's lag) over the last half second, a search run
// each quarter second of far-end sound. An estimate is given once two
// searches in a row agree. Real-time safe: the buffers are made once.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "outside/qm_nim/audio/processing/fft.h"

namespace qmnim::audio {

class DelayEstimator {
public:
    // Lags from `-earliest` to `latest` samples (48 kHz) are searched.
    static constexpr std::int64_t kEarliest = 4800;  // 100 ms
    static constexpr std::int64_t kLatest = 19200;   // 400 ms

    DelayEstimator();

    // One block of the reference as the canceller got it and the microphone
    // block it got it for (48 kHz, a multiple of 12 samples).
    void Add(const std::int16_t* reference, const std::int16_t* microphone, size_t count);
    // The lag of the echo behind the reference (48 kHz samples) when a new
    // estimate is ready; each is given once.
    std::optional<std::int64_t> TakeEstimate();
    // Forgets the history (after the reference was moved: it no longer matches).
    void Restart();

private:
    void Search();

    static constexpr size_t kDecimation = 12;  // 48 kHz to 4 kHz
    static constexpr size_t kWindow = 2048;    // half a second at 4 kHz
    static constexpr size_t kHistory = 4096;
    Fft fft_;
    std::vector<float> reference_, microphone_;  // rings of kHistory, at 4 kHz
    size_t written_ = 0;                         // 4 kHz samples so far (since Restart)
    float referenceSum_ = 0, microphoneSum_ = 0;
    size_t summed_ = 0;
    size_t activeSinceSearch_ = 0;  // 4 kHz samples with far-end sound since the last search
    std::vector<std::complex<float>> a_, b_, smoothed_;
    bool smoothedValid_ = false;
    std::optional<std::int64_t> previous_;
    std::optional<std::int64_t> ready_;
};

}  // namespace qmnim::audio
