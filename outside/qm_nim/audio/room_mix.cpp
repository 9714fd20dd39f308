#include "outside/qm_nim/audio/room_mix.h"

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
namespace {
constexpr auto kSpeakingHold = std::chrono::milliseconds(300);
constexpr std::uint64_t kMaxConcealedFrames = 5;  // a longer gap is a new start, not a loss
}  // namespace

RoomMix::Speaker& RoomMix::SpeakerLocked(std::uint32_t id) {
    auto& slot = speakers_[id];
    if (!slot) slot = std::make_unique<Speaker>();
    return *slot;
}

void RoomMix::OnPacket(std::uint32_t speaker, std::uint64_t sequence, std::string_view opus, bool last) {
    auto now = Clock::now();
    std::lock_guard<std::mutex> lock(lock_);
    Speaker& s = SpeakerLocked(speaker);
    bool first = !s.inTransmission;
    if (!first && sequence < s.nextSequence) return;  // late duplicate or out of order: too late to play
    if (!first && sequence > s.nextSequence) {
        // Frames lost on the way (the server drops what exceeds the bandwidth):
        // cover a short gap so the speaker does not jump.
        std::uint64_t missing = (sequence - s.nextSequence) / kSequencePerFrame;
        if (missing <= kMaxConcealedFrames) {
            for (std::uint64_t i = 0; i < missing; ++i) {
                s.decoder.Conceal(kFrameSamples, pcm_);
                s.buffer.Push(pcm_.data(), pcm_.size(), false, now);
            }
        }
    }
    if (!s.decoder.Decode(opus, pcm_)) return;
    ++frames_;
    s.buffer.Push(pcm_.data(), pcm_.size(), first, now);
    s.nextSequence = sequence + std::max<std::uint64_t>(1, pcm_.size() / (kSamplesPerMs * 10));
    s.inTransmission = !last;
    if (last) s.buffer.EndOfTransmission();
    s.level = LevelOf(pcm_.data(), pcm_.size());
    s.lastHeard = now;
}

void RoomMix::OnLocalSamples(const std::int16_t* samples, size_t count) {
    auto now = Clock::now();
    std::lock_guard<std::mutex> lock(lock_);
    Speaker& s = SpeakerLocked(kLocalSpeaker);
    s.buffer.Push(samples, count, !s.inTransmission, now);
    s.inTransmission = true;
}

void RoomMix::Pull(std::int16_t* out, size_t count) {
    std::fill(out, out + count, std::int16_t{0});
    std::lock_guard<std::mutex> lock(lock_);
    for (auto& [id, s] : speakers_) s->buffer.MixInto(out, count, gain_);
}

void RoomMix::SetGain(float gain) {
    std::lock_guard<std::mutex> lock(lock_);
    gain_ = gain;
}

void RoomMix::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    speakers_.clear();
}

void RoomMix::Forget(std::uint32_t speaker) {
    std::lock_guard<std::mutex> lock(lock_);
    speakers_.erase(speaker);
}

std::vector<RoomMix::Level> RoomMix::Levels(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<Level> out;
    for (const auto& [id, s] : speakers_) {
        if (id == kLocalSpeaker) continue;
        bool speaking = now - s->lastHeard < kSpeakingHold;
        out.push_back({id, speaking ? s->level : 0, speaking});
    }
    return out;
}

bool RoomMix::AnyoneSpeaking(Clock::time_point now, std::chrono::milliseconds within) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& [id, s] : speakers_) {
        if (id != kLocalSpeaker && now - s->lastHeard < within) return true;
    }
    return false;
}

std::uint64_t RoomMix::framesReceived() const {
    std::lock_guard<std::mutex> lock(lock_);
    return frames_;
}

}  // namespace qmnim::audio
