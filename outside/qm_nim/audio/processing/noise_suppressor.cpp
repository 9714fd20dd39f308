#include "outside/qm_nim/audio/processing/noise_suppressor.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {

NoiseSuppressor::NoiseSuppressor(bool suppress) {
    webrtc::Config config;
    // Only the noise suppressor runs; the experimental gain control would even drive an analog level.
    config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    apm_.reset(webrtc::AudioProcessing::Create(config));
    if (!apm_) return;
    const auto mono = webrtc::AudioProcessing::kMono;
    if (apm_->Initialize(kMeasureRate, kMeasureRate, kMeasureRate, mono, mono, mono) != 0) {
        apm_.reset();
        return;
    }
    apm_->high_pass_filter()->Enable(true);
    apm_->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
    apm_->noise_suppression()->Enable(true);
    if (suppress) denoiser_.emplace();
}

NoiseSuppressor::~NoiseSuppressor() = default;

float NoiseSuppressor::Process(std::int16_t* block) {
    if (!apm_) return 1.0f;
    // Three samples to one: what is left above 8 kHz folds down, which the
    // probability (of a voice's harmonics and spectral shape) does not mind.
    for (size_t i = 0; i < kMeasured; ++i)
        buffer_[i] = static_cast<float>(block[3 * i] + block[3 * i + 1] + block[3 * i + 2]) / (3 * 32768.0f);
    float* channel = buffer_.data();
    const webrtc::StreamConfig mono(kMeasureRate, 1);
    const bool measured = apm_->ProcessStream(&channel, mono, mono, &channel) == 0;
    if (denoiser_) denoiser_->Process(block);
    return measured ? apm_->noise_suppression()->speech_probability() : 1.0f;
}

}  // namespace qmnim::audio
