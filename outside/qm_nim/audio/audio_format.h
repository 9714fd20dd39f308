// The one audio format inside the module: 48 kHz mono, 16-bit samples, sent
// in frames of 20 ms. Devices and streams are converted to it by the sound
// server; sequence numbers count 10 ms units as the protocol wants.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qmnim::audio {

constexpr int kSampleRate = 48000;
constexpr size_t kFrameSamples = 960;            // 20 ms
constexpr size_t kSamplesPerMs = kSampleRate / 1000;
constexpr std::uint64_t kSequencePerFrame = 2;  // 10 ms units

// 0..100 from the loudness of `samples`: -60 dBFS and below is 0, full scale 100.
inline int LevelOf(const std::int16_t* samples, size_t count) {
    if (count == 0) return 0;
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
    double rms = std::sqrt(sum / double(count)) / 32768.0;
    if (rms <= 1e-6) return 0;
    double db = 20.0 * std::log10(rms);
    return std::clamp(static_cast<int>(std::lround((db + 60.0) * 100.0 / 60.0)), 0, 100);
}

// Scales in place by `gain` (1.0 = unchanged), clipping at full scale.
inline void ApplyGain(std::int16_t* samples, size_t count, float gain) {
    if (gain == 1.0f) return;
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<std::int16_t>(std::clamp(samples[i] * gain, -32768.0f, 32767.0f));
}

// Adds `in` scaled by `gain` to `acc`, clipping at full scale.
inline void MixInto(std::int16_t* acc, const std::int16_t* in, size_t count, float gain) {
    for (size_t i = 0; i < count; ++i)
        acc[i] = static_cast<std::int16_t>(std::clamp(acc[i] + in[i] * gain, -32768.0f, 32767.0f));
}

// The page's volume (0..100) as a linear gain; 100 passes the sound unchanged.
inline float GainOfVolume(int volume) { return static_cast<float>(std::clamp(volume, 0, 100)) / 100.0f; }

}  // namespace qmnim::audio
