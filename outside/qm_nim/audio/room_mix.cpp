#include "outside/qm_nim/audio/room_mix.h"

#include <algorithm>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
namespace {
using namespace std::chrono_literals;
constexpr auto kSpeakingHold = 300ms;
// A speaker quiet this long may give its place to a newcomer.
constexpr auto kPlaceFreeAfter = 1s;
// Without a pull for this long nobody plays the room: packets are decoded on
// arrival and dropped.
constexpr auto kNobodyPlays = 500ms;
constexpr auto kSweepEvery = 500ms;
// The user's own sound in test mode: starts a frame ahead, never more than 100 ms behind.
constexpr size_t kLocalStart = kFrameSamples;
constexpr size_t kLocalMax = 5 * kFrameSamples;

void Add(JitterBuffer::Counters& into, const JitterBuffer::Counters& c) {
    into.played += c.played;
    into.concealed += c.concealed;
    into.stretched += c.stretched;
    into.recovered += c.recovered;
    into.late += c.late;
    into.dropped += c.dropped;
    into.underruns += c.underruns;
    into.shortened += c.shortened;
}
}  // namespace

void RoomMix::RetireLocked(std::map<std::uint32_t, std::unique_ptr<Speaker>>::iterator it) {
    Add(retired_, it->second->buffer.counters());
    speakers_.erase(it);
}

void RoomMix::SweepLocked(Clock::time_point now) {
    if (now - lastSweep_ < kSweepEvery) return;
    lastSweep_ = now;
    for (auto it = speakers_.begin(); it != speakers_.end();) {
        auto next = std::next(it);
        if (now - it->second->lastHeard > kForgetAfter) RetireLocked(it);
        it = next;
    }
}

void RoomMix::OnPacket(std::uint32_t speaker, std::uint64_t sequence, std::string_view opus, bool last,
                       Clock::time_point now) {
    std::lock_guard<std::mutex> lock(lock_);
    SweepLocked(now);
    auto it = speakers_.find(speaker);
    if (it == speakers_.end()) {
        if (speaker == kLocalSpeaker) return;
        if (speakers_.size() >= kMaxSpeakers) {
            // Full: the newcomer takes the place of whoever has been quiet longest, if anyone has.
            auto quietest = std::min_element(speakers_.begin(), speakers_.end(), [](const auto& a, const auto& b) {
                return a.second->lastHeard < b.second->lastHeard;
            });
            if (now - quietest->second->lastHeard < kPlaceFreeAfter) return;
            RetireLocked(quietest);
        }
        it = speakers_.emplace(speaker, std::make_unique<Speaker>()).first;
    }
    Speaker& s = *it->second;
    if (!s.buffer.Push(sequence, opus, last, now)) return;
    ++frames_;
    s.lastHeard = now;
    if (now - lastPull_ > kNobodyPlays) s.buffer.Discard();
}

void RoomMix::OnLocalSamples(const std::int16_t* samples, size_t count) {
    std::lock_guard<std::mutex> lock(lock_);
    local_.insert(local_.end(), samples, samples + count);
    if (local_.size() > kLocalMax) local_.erase(local_.begin(), local_.end() - static_cast<std::ptrdiff_t>(kLocalMax));
}

void RoomMix::Pull(std::int16_t* out, size_t count, Clock::time_point now) {
    std::fill(out, out + count, std::int16_t{0});
    std::lock_guard<std::mutex> lock(lock_);
    lastPull_ = now;
    for (auto& [id, s] : speakers_) s->buffer.MixInto(out, count, gain_, now);
    if (!localPlaying_ && local_.size() >= kLocalStart) localPlaying_ = true;
    if (localPlaying_) {
        size_t n = std::min(count, local_.size());
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::int16_t>(std::clamp(out[i] + local_[i] * gain_, -32768.0f, 32767.0f));
        local_.erase(local_.begin(), local_.begin() + static_cast<std::ptrdiff_t>(n));
        if (n < count) localPlaying_ = false;  // a frame ahead again before playing on
    }
    SweepLocked(now);
}

bool RoomMix::Idle(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(lock_);
    lastPull_ = now;
    if (localPlaying_ || !local_.empty()) return false;
    for (const auto& [id, s] : speakers_)
        if (s->buffer.playing() || s->buffer.bufferedMs() > 0) return false;
    return true;
}

void RoomMix::SetGain(float gain) {
    std::lock_guard<std::mutex> lock(lock_);
    gain_ = gain;
}

void RoomMix::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    while (!speakers_.empty()) RetireLocked(speakers_.begin());
    local_.clear();
    localPlaying_ = false;
}

void RoomMix::Forget(std::uint32_t speaker) {
    std::lock_guard<std::mutex> lock(lock_);
    if (speaker == kLocalSpeaker) {
        local_.clear();
        localPlaying_ = false;
        return;
    }
    auto it = speakers_.find(speaker);
    if (it != speakers_.end()) RetireLocked(it);
}

std::vector<RoomMix::Level> RoomMix::Levels(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<Level> out;
    for (const auto& [id, s] : speakers_) {
        bool speaking = now - s->lastHeard < kSpeakingHold;
        out.push_back({id, speaking ? s->buffer.level() : 0, speaking});
    }
    return out;
}

bool RoomMix::AnyoneSpeaking(Clock::time_point now, std::chrono::milliseconds within) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& [id, s] : speakers_) {
        if (now - s->lastHeard < within) return true;
    }
    return false;
}

std::uint64_t RoomMix::framesReceived() const {
    std::lock_guard<std::mutex> lock(lock_);
    return frames_;
}

size_t RoomMix::speakers() const {
    std::lock_guard<std::mutex> lock(lock_);
    return speakers_.size();
}

JitterBuffer::Counters RoomMix::counters() const {
    std::lock_guard<std::mutex> lock(lock_);
    JitterBuffer::Counters all = retired_;
    for (const auto& [id, s] : speakers_) Add(all, s->buffer.counters());
    return all;
}

}  // namespace qmnim::audio
