#include "outside/qm_nim/audio/processing/noise_suppressor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <cmath>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {

NoiseSuppressor::NoiseSuppressor(bool suppress) : suppress_(suppress) {
    webrtc::Config config;
    // Only the noise suppressor runs; the experimental gain control would even drive an analog level.
    config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    apm_.reset(webrtc::AudioProcessing::Create(config));
    if (!apm_) return;
    const auto mono = webrtc::AudioProcessing::kMono;
    if (apm_->Initialize(kSampleRate, kSampleRate, kSampleRate, mono, mono, mono) != 0) {
        apm_.reset();
        return;
    }
    apm_->high_pass_filter()->Enable(true);
    apm_->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
    apm_->noise_suppression()->Enable(true);
}

NoiseSuppressor::~NoiseSuppressor() = default;

float NoiseSuppressor::Process(std::int16_t* block) {
    if (!apm_) return 1.0f;
    for (size_t i = 0; i < kBlock; ++i) buffer_[i] = block[i] / 32768.0f;
    float* channel = buffer_.data();
    const webrtc::StreamConfig mono(kSampleRate, 1);
    if (apm_->ProcessStream(&channel, mono, mono, &channel) != 0) return 1.0f;
    if (suppress_) {
        for (size_t i = 0; i < kBlock; ++i)
            block[i] = static_cast<std::int16_t>(std::clamp(std::lround(buffer_[i] * 32768.0f), -32768L, 32767L));
    }
    return apm_->noise_suppression()->speech_probability();
}

}  // namespace qmnim::audio
