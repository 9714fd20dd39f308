// Stationary noise taken out of speech with next to no delay (1 ms). A
// suppressor that works on overlapping windows delays its output by their
// overlap (WebRTC's by 6 ms, speexdsp's by a whole block), and every
// millisecond here is one more between a mouth and an ear. Here the
// spectrum is only measured (the newest 10.7 ms, per 94 Hz band); the gains
// it gives become a short linear-phase filter that the microphone passes
// through, cross-faded from one block's filter to the next. The filter is
// coarser than the spectrum (about 500 Hz), which costs some suppression
// between a voice's harmonics, none in its pauses.
//
// Before it: a high-pass filter (80 Hz) for rumble and hum.
// Real-time safe: nothing is allocated after the constructor.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "outside/qm_nim/audio/processing/fft.h"

namespace qmnim::audio {

class LowDelayDenoiser {
public:
    static constexpr size_t kBlock = 480;     // 10 ms
    static constexpr size_t kWindow = 512;    // the spectrum's
    static constexpr size_t kBins = kWindow / 2 + 1;
    static constexpr size_t kHalfTaps = 48;   // the filter's delay in samples: 1 ms
    static constexpr size_t kTaps = 2 * kHalfTaps + 1;
    // The deepest cut (-18 dB): deeper, and what is left of the noise turns into warbling tones.
    static constexpr float kFloor = 0.125f;
    static constexpr size_t kFade = 128;  // samples over which one block's filter gives way to the next's

    LowDelayDenoiser();
    // One block in place.
    void Process(std::int16_t* block);

private:
    void HighPass(const std::int16_t* block);
    void MeasureNoiseAndGains();
    void MakeFilter();
    static void FilterGroup(const float* taps, const float* newest, float* out);

    using Lanes = float __attribute__((vector_size(16)));
    static constexpr size_t kLanes = sizeof(Lanes) / sizeof(float);
    static constexpr size_t kPaddedBins = (kBins + kLanes - 1) / kLanes * kLanes;
    static constexpr size_t kGroup = 4 * kLanes;  // outputs computed together
    static_assert(kBlock % kGroup == 0 && kFade % kGroup == 0);

    Fft fft_;  // of half the window: a real window is transformed as a complex one of half its length
    std::array<float, kWindow> window_{};
    std::array<float, kWindow> recent_{};  // the newest input, after the high-pass
    std::array<std::complex<float>, kWindow / 2> packed_{};
    std::array<std::complex<float>, kBins> twiddles_{};
    std::vector<float> cosines_;  // per tap m (0..kHalfTaps) and band k: the inverse transform's weight, tapered
    std::array<float, kBins> noise_{}, gain_{}, lastClean_{};
    std::array<float, kTaps> taps_{}, previousTaps_{};
    std::array<float, 2 * kHalfTaps + kBlock> input_{};  // the filter's history, then this block
    std::array<float, kBlock> newOut_{}, oldOut_{};
    double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;  // the high-pass
    double z1_ = 0, z2_ = 0;
    size_t blocks_ = 0;
};

}  // namespace qmnim::audio
