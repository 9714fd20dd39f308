#include "outside/qm_nim/audio/processing/microphone_processor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/processing/delay_estimator.h"
#include "outside/qm_nim/audio/processing/echo_canceller.h"
#include "outside/qm_nim/audio/processing/noise_suppressor.h"

namespace qmnim::audio {
namespace {

constexpr size_t kKeptPlayed = kSampleRate;  // a second of what was played
constexpr std::int64_t kMinExtraDelay = -DelayEstimator::kEarliest;
constexpr std::int64_t kMaxExtraDelay = kSampleRate;

double Rms(const std::int16_t* block, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += double(block[i]) * block[i];
    return std::sqrt(sum / double(count));
}

}  // namespace

MicrophoneProcessor::MicrophoneProcessor(const ProcessingSettings& settings)
    : settings_(settings), reference_(kKeptPlayed) {
    reference_.SetLead(EchoCanceller::kLead);
    if (settings_.echoCancellation) {
        canceller_ = std::make_unique<EchoCanceller>();
        estimator_ = std::make_unique<DelayEstimator>();
        if (!canceller_->ok()) canceller_.reset();
    }
    if (settings_.noiseSuppression || settings_.speechDetection) {
        noise_ = std::make_unique<NoiseSuppressor>(settings_.noiseSuppression);
        if (!noise_->ok()) noise_.reset();
    }
}

MicrophoneProcessor::~MicrophoneProcessor() = default;

void MicrophoneProcessor::OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt) {
    if (canceller_) reference_.OnPlayed(samples, count, firstPlaysAt);
}

void MicrophoneProcessor::SetSpeech(bool speech) {
    if (speech != speech_) gate_.Reset();
    speech_ = speech;
}

void MicrophoneProcessor::SetEchoCancellation(bool on) { echoOn_ = on; }

bool MicrophoneProcessor::detects() const { return speech_ && settings_.speechDetection && noise_; }

void MicrophoneProcessor::CancelEcho(std::int16_t* block, Clock::time_point capturedAt) {
    EchoReference::Take take = reference_.Next(played_.data(), kBlock, capturedAt);
    if (take == EchoReference::Take::Resynced) {
        canceller_->Reset();
        estimator_->Restart();
        residual_.Reset();
    }
    // Until the loudspeaker plays something there is no echo, and nothing to learn. From then
    // on the canceller runs on every block: its state must follow the streams without a gap.
    echoHeard_ = echoHeard_ || std::any_of(played_.begin(), played_.end(), [](std::int16_t v) { return v != 0; });
    if (!echoHeard_) return;
    estimator_->Add(played_.data(), block, kBlock);  // the microphone as heard, echo and all
    const double before = Rms(block, kBlock);
    canceller_->Process(block, played_.data());
    // Music is not cut: two players sending a held note each would be taken
    // for each other's echo.
    if (speech_) residual_.Process(block, kBlock, Rms(played_.data(), kBlock), before, Rms(block, kBlock));
    std::optional<std::int64_t> lag = estimator_->TakeEstimate();
    if (!lag) return;
    if (*lag >= EchoCanceller::kEchoFrom && *lag <= EchoCanceller::kEchoUntil) {
        reference_.Anchor();  // the filter has the echo where it is: keep it there
        return;
    }
    // The echo left the canceller's window: the reference starts anew where the echo is.
    const std::int64_t extra = reference_.extraDelay();
    reference_.Move(std::clamp(extra + *lag - EchoCanceller::kLead, kMinExtraDelay, kMaxExtraDelay) - extra);
}

bool MicrophoneProcessor::Process(std::int16_t* block, Clock::time_point capturedAt) {
    if (canceller_ && echoOn_) CancelEcho(block, capturedAt);
    if (!speech_) return true;
    bool speech = Rms(block, kBlock) >= kSpeechFloorRms;
    if (noise_) {
        float probability = noise_->Process(block);
        if (heardBlocks_ < kWarmUpBlocks) {
            ++heardBlocks_;
            probability = 0;
        }
        speech = gate_.Update(probability) && speech;
    }
    if (settings_.autoGain) gain_.Process(block, kBlock, speech);
    return settings_.speechDetection ? speech : true;
}

}  // namespace qmnim::audio
