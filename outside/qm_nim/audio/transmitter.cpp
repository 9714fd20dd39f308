#include "outside/qm_nim/audio/transmitter.h"

#include <algorithm>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/proto/voice_packet.h"

namespace qmnim::audio {
namespace {
constexpr int kVoiceLevel = 8;           // about -55 dBFS: below it a frame is silence
constexpr int kHangoverFrames = 20;      // 400 ms of silence before a transmission ends
constexpr size_t kMaxBacklog = 5 * kFrameSamples;  // a follower input never lags more than 100 ms
}  // namespace

Transmitter::Transmitter(PacketSink packets, SampleSink sent, SampleSink testEcho)
    : packets_(std::move(packets)), sent_(std::move(sent)), testEcho_(std::move(testEcho)), frame_(kFrameSamples) {}

void Transmitter::Configure(OpusUse use, int bitrate) {
    std::lock_guard<std::mutex> lock(lock_);
    if (encoder_ && use == use_) {
        if (bitrate != bitrate_) encoder_->SetBitrate(bitrate);
    } else {
        encoder_.reset();  // made again with the new use at the next frame
    }
    use_ = use;
    bitrate_ = bitrate;
}

std::uint64_t Transmitter::sequence() const {
    auto* self = const_cast<Transmitter*>(this);
    std::lock_guard<std::mutex> lock(self->lock_);
    return sequence_;
}

void Transmitter::SetInputActive(Input input, bool active) {
    std::lock_guard<std::mutex> lock(lock_);
    (input == Input::Mic ? micActive_ : programActive_) = active;
    (input == Input::Mic ? mic_ : program_).clear();
    if (!micActive_ && !programActive_) {
        EndTransmissionLocked();
        level_.store(0);
    }
}

void Transmitter::OnSamples(Input input, const std::int16_t* samples, size_t count) {
    std::lock_guard<std::mutex> lock(lock_);
    bool micLeads = micActive_;
    std::deque<std::int16_t>& own = input == Input::Mic ? mic_ : program_;
    if ((input == Input::Mic && !micActive_) || (input == Input::Program && !programActive_)) return;
    own.insert(own.end(), samples, samples + count);
    bool leads = input == Input::Mic ? micLeads : !micLeads;
    if (!leads) {
        if (own.size() > kMaxBacklog) own.erase(own.begin(), own.end() - static_cast<std::ptrdiff_t>(kMaxBacklog));
        return;
    }
    std::deque<std::int16_t>& other = input == Input::Mic ? program_ : mic_;
    float ownGain = (input == Input::Mic ? micGain_ : programGain_).load();
    float otherGain = (input == Input::Mic ? programGain_ : micGain_).load();
    while (own.size() >= kFrameSamples) {
        for (size_t i = 0; i < kFrameSamples; ++i) {
            float v = own[i] * ownGain;
            if (i < other.size()) v += other[i] * otherGain;
            frame_[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
        }
        own.erase(own.begin(), own.begin() + kFrameSamples);
        other.erase(other.begin(), other.begin() + static_cast<std::ptrdiff_t>(std::min(other.size(), kFrameSamples)));
        FrameReadyLocked(frame_.data());
    }
}

void Transmitter::FrameReadyLocked(const std::int16_t* frame) {
    int level = LevelOf(frame, kFrameSamples);
    if (testMode_.load()) {
        level_.store(level);
        EndTransmissionLocked();
        if (testEcho_) testEcho_(frame, kFrameSamples);
        return;
    }
    if (muted_.load() || !sending_.load()) {
        level_.store(muted_.load() ? 0 : level);
        EndTransmissionLocked();
        sequence_ += kSequencePerFrame;  // time goes on for the numbering
        return;
    }
    level_.store(level);
    bool loud = level >= kVoiceLevel;
    quietFrames_ = loud ? 0 : quietFrames_ + 1;
    if (!transmitting_ && !loud) {
        sequence_ += kSequencePerFrame;
        return;
    }
    bool last = transmitting_ && quietFrames_ >= kHangoverFrames;
    if (!encoder_) {
        encoder_ = std::make_unique<Encoder>(use_, bitrate_);
        appliedLoss_ = -1;
    }
    if (!transmitting_) encoder_->Reset();
    if (int loss = expectedLoss_.load(); loss != appliedLoss_) {
        encoder_->SetExpectedLoss(loss);
        appliedLoss_ = loss;
    }
    std::string opus = encoder_->Encode(frame);
    std::string packet = opus.empty() ? std::string() : proto::BuildVoicePacket(sequence_, opus, last);
    sequence_ += kSequencePerFrame;
    if (packet.empty()) return;
    transmitting_ = !last;
    speaking_.store(transmitting_);
    ++framesSent_;
    packets_(std::move(packet));
    if (sent_) sent_(frame, kFrameSamples);
}

void Transmitter::EndTransmissionLocked() {
    if (!transmitting_) return;
    transmitting_ = false;
    speaking_.store(false);
    // A frame of silence marked as the last one tells listeners the speaker stopped.
    if (!encoder_) return;
    std::vector<std::int16_t> silence(kFrameSamples, 0);
    std::string opus = encoder_->Encode(silence.data());
    std::string packet = opus.empty() ? std::string() : proto::BuildVoicePacket(sequence_, opus, true);
    sequence_ += kSequencePerFrame;
    if (!packet.empty()) packets_(std::move(packet));
}

}  // namespace qmnim::audio
