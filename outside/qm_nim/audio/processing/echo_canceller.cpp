#include "outside/qm_nim/audio/processing/echo_canceller.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>
#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <cmath>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {

EchoCanceller::EchoCanceller() {
    echo_ = speex_echo_state_init(static_cast<int>(kBlock), static_cast<int>(kTail));
    residual_ = speex_preprocess_state_init(static_cast<int>(kBlock), kSampleRate);
    if (echo_ && residual_) {
        int rate = kSampleRate;
        speex_echo_ctl(echo_, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
        // The preprocessor only suppresses the echo the filter missed: its noise
        // suppression stays at 0 dB, yet it runs only with "denoise" on.
        int on = 1, off = 0, noNoiseSuppression = 0;
        speex_preprocess_ctl(residual_, SPEEX_PREPROCESS_SET_DENOISE, &on);
        speex_preprocess_ctl(residual_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &noNoiseSuppression);
        speex_preprocess_ctl(residual_, SPEEX_PREPROCESS_SET_AGC, &off);
        speex_preprocess_ctl(residual_, SPEEX_PREPROCESS_SET_DEREVERB, &off);
        speex_preprocess_ctl(residual_, SPEEX_PREPROCESS_SET_ECHO_STATE, echo_);
    }
    webrtc::Config config;
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(false));  // the reference comes aligned
    config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    apm_.reset(webrtc::AudioProcessing::Create(config));
    const auto mono = webrtc::AudioProcessing::kMono;
    if (!apm_ || apm_->Initialize(kSampleRate, kSampleRate, kSampleRate, mono, mono, mono) != 0 ||
        apm_->echo_cancellation()->Enable(true) != 0) {
        apm_.reset();
        return;
    }
    apm_->echo_cancellation()->enable_drift_compensation(false);
    // The lowest suppression: what the filters leave is little; the user's voice keeps the most.
    apm_->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kLowSuppression);
}

EchoCanceller::~EchoCanceller() {
    if (residual_) speex_preprocess_state_destroy(residual_);
    if (echo_) speex_echo_state_destroy(echo_);
}

void EchoCanceller::Process(std::int16_t* microphone, const std::int16_t* reference) {
    if (!ok()) return;
    speex_echo_cancellation(echo_, microphone, reference, out_.data());
    speex_preprocess_run(residual_, out_.data());
    for (size_t i = 0; i < kBlock; ++i) {
        microphone_[i] = out_[i] / 32768.0f;
        reference_[i] = reference[i] / 32768.0f;
    }
    const webrtc::StreamConfig mono(kSampleRate, 1);
    float* channel = reference_.data();
    apm_->ProcessReverseStream(&channel, mono, mono, &channel);
    apm_->set_stream_delay_ms(static_cast<int>(kLead * 1000 / kSampleRate));
    channel = microphone_.data();
    if (apm_->ProcessStream(&channel, mono, mono, &channel) != 0) {
        std::copy(out_.begin(), out_.end(), microphone);
        return;
    }
    for (size_t i = 0; i < kBlock; ++i)
        microphone[i] = static_cast<std::int16_t>(std::clamp(std::lround(microphone_[i] * 32768.0f), -32768L, 32767L));
}

void EchoCanceller::Reset() {
    if (echo_) speex_echo_state_reset(echo_);
    if (apm_) apm_->Initialize();  // the library's way to start its state afresh
}

}  // namespace qmnim::audio
