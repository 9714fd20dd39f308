#include "outside/qm_nim/audio/processing/low_delay_denoiser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
namespace {

constexpr double kHighPassHz = 80;
// The noise is learnt from the first blocks as they are (a user rarely speaks
// in the first 200 ms), then only from bands that look like noise, rising
// slowly where none does so that a louder noise is learnt in a few seconds.
constexpr size_t kLearnBlocks = 20;
constexpr float kLooksLikeNoise = 2.5f;          // power over the noise's
constexpr float kNoiseFollow = 0.1f;             // per block: 100 ms
constexpr float kNoiseRise = 1.0069f;            // per block: +3 dB a second
constexpr float kOverSubtraction = 1.1f;
constexpr float kPrior = 0.98f;                  // decision-directed: the last block's share of the a-priori SNR

}  // namespace

LowDelayDenoiser::LowDelayDenoiser() : fft_(kWindow / 2), cosines_((kHalfTaps + 1) * kPaddedBins, 0.0f) {
    for (size_t i = 0; i < kWindow; ++i)
        window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * (double(i) + 0.5) / double(kWindow)));
    for (size_t k = 0; k < kBins; ++k)
        twiddles_[k] = std::polar(1.0f, static_cast<float>(-2 * M_PI * double(k) / kWindow));
    for (size_t m = 0; m <= kHalfTaps; ++m) {
        const double taper = 0.5 + 0.5 * std::cos(M_PI * double(m) / double(kHalfTaps + 1));
        for (size_t k = 0; k < kBins; ++k) {
            const double twice = k == 0 || k == kBins - 1 ? 1 : 2;  // the bands above half mirror those below
            cosines_[m * kPaddedBins + k] =
                static_cast<float>(taper * twice * std::cos(2 * M_PI * double(k * m) / kWindow) / kWindow);
        }
    }
    // Second-order Butterworth high-pass, by the bilinear transform.
    const double k = std::tan(M_PI * kHighPassHz / kSampleRate);
    const double norm = 1 / (1 + std::sqrt(2.0) * k + k * k);
    b0_ = norm;
    b1_ = -2 * norm;
    b2_ = norm;
    a1_ = 2 * (k * k - 1) * norm;
    a2_ = (1 - std::sqrt(2.0) * k + k * k) * norm;
    gain_.fill(1.0f);
    MakeFilter();
    previousTaps_ = taps_;
}

void LowDelayDenoiser::HighPass(const std::int16_t* block) {
    // The newest samples go to the end of both the analysis window and the filter's input.
    std::copy(recent_.begin() + kBlock, recent_.end(), recent_.begin());
    std::copy(input_.begin() + kBlock, input_.end(), input_.begin());
    float* toWindow = recent_.data() + (kWindow - kBlock);
    float* toFilter = input_.data() + 2 * kHalfTaps;
    for (size_t i = 0; i < kBlock; ++i) {
        const double x = block[i];
        const double y = b0_ * x + z1_;
        z1_ = b1_ * x - a1_ * y + z2_;
        z2_ = b2_ * x - a2_ * y;
        toWindow[i] = toFilter[i] = static_cast<float>(y);
    }
}

void LowDelayDenoiser::MeasureNoiseAndGains() {
    // The real window as a complex sequence of half the length (even samples
    // real, odd imaginary), transformed, then taken apart into its spectrum.
    constexpr size_t kHalf = kWindow / 2;
    for (size_t n = 0; n < kHalf; ++n)
        packed_[n] = {recent_[2 * n] * window_[2 * n], recent_[2 * n + 1] * window_[2 * n + 1]};
    fft_.Transform(packed_.data(), false);
    std::array<float, kBins> power;
    for (size_t k = 0; k < kBins; ++k) {
        const std::complex<float> a = packed_[k % kHalf], b = std::conj(packed_[(kHalf - k) % kHalf]);
        const std::complex<float> even = 0.5f * (a + b), odd = std::complex<float>(0, -0.5f) * (a - b);
        power[k] = std::norm(even + odd * twiddles_[k]) + 1e-3f;
    }
    // Neighbouring bands smoothed together: a steadier figure, and fewer lone tones left in the noise.
    std::array<float, kBins> smooth;
    for (size_t k = 0; k < kBins; ++k) {
        const float below = power[k > 0 ? k - 1 : k + 1], above = power[k + 1 < kBins ? k + 1 : k - 1];
        smooth[k] = 0.25f * below + 0.5f * power[k] + 0.25f * above;
    }
    ++blocks_;
    for (size_t k = 0; k < kBins; ++k) {
        float& noise = noise_[k];
        if (blocks_ <= kLearnBlocks) {
            noise += (smooth[k] - noise) / static_cast<float>(blocks_);
        } else if (smooth[k] < kLooksLikeNoise * noise) {
            noise += kNoiseFollow * (smooth[k] - noise);
        } else {
            noise *= kNoiseRise;
        }
        const float post = smooth[k] / (kOverSubtraction * noise);
        const float prior = kPrior * lastClean_[k] + (1 - kPrior) * std::max(post - 1, 0.0f);
        const float gain = std::max(prior / (1 + prior), kFloor);
        gain_[k] = gain;
        lastClean_[k] = gain * gain * post;
    }
}

void LowDelayDenoiser::MakeFilter() {
    // The gains are real and even: the filter is the middle of their inverse
    // transform (a sum of cosines, one row of the table per tap), tapered.
    std::array<float, kPaddedBins> gains{};
    std::copy(gain_.begin(), gain_.end(), gains.begin());
    for (size_t m = 0; m <= kHalfTaps; ++m) {
        const float* row = cosines_.data() + m * kPaddedBins;
        Lanes sum = {};
        for (size_t k = 0; k < kPaddedBins; k += kLanes) {
            Lanes g, c;
            std::memcpy(&g, gains.data() + k, sizeof(g));
            std::memcpy(&c, row + k, sizeof(c));
            sum += g * c;
        }
        float h = 0;
        for (size_t l = 0; l < kLanes; ++l) h += sum[l];
        taps_[kHalfTaps + m] = taps_[kHalfTaps - m] = h;
    }
}

// Sixteen outputs, in four vector registers written out (at -O2 the compiler
// neither vectorises the plain loops nor keeps an array of lanes in registers).
void LowDelayDenoiser::FilterGroup(const float* taps, const float* newest, float* out) {
    static_assert(kGroup == 4 * kLanes);
    Lanes a = {}, b = {}, c = {}, d = {};
    for (size_t j = 0; j < kTaps; ++j) {
        const float* x = newest - j;
        Lanes xa, xb, xc, xd;
        std::memcpy(&xa, x, sizeof(Lanes));
        std::memcpy(&xb, x + kLanes, sizeof(Lanes));
        std::memcpy(&xc, x + 2 * kLanes, sizeof(Lanes));
        std::memcpy(&xd, x + 3 * kLanes, sizeof(Lanes));
        const float t = taps[j];
        a += t * xa;
        b += t * xb;
        c += t * xc;
        d += t * xd;
    }
    std::memcpy(out, &a, sizeof(Lanes));
    std::memcpy(out + kLanes, &b, sizeof(Lanes));
    std::memcpy(out + 2 * kLanes, &c, sizeof(Lanes));
    std::memcpy(out + 3 * kLanes, &d, sizeof(Lanes));
}

void LowDelayDenoiser::Process(std::int16_t* block) {
    HighPass(block);
    MeasureNoiseAndGains();
    previousTaps_ = taps_;
    MakeFilter();
    // The last block's filter fades into this one's over its first 2.7 ms.
    const float* newest = input_.data() + 2 * kHalfTaps;
    for (size_t n = 0; n < kBlock; n += kGroup) {
        FilterGroup(taps_.data(), newest + n, newOut_.data() + n);
        if (n < kFade) FilterGroup(previousTaps_.data(), newest + n, oldOut_.data() + n);
    }
    for (size_t n = 0; n < kBlock; ++n) {
        const float fade = n < kFade ? static_cast<float>(n + 1) / static_cast<float>(kFade) : 1.0f;
        const float y = oldOut_[n] + fade * (newOut_[n] - oldOut_[n]);
        block[n] = static_cast<std::int16_t>(std::clamp(std::lround(y), -32768L, 32767L));
    }
}

}  // namespace qmnim::audio
