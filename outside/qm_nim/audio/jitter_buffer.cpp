#include "outside/qm_nim/audio/jitter_buffer.h"

#include <algorithm>
#include <cmath>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {
namespace {

using namespace std::chrono_literals;
constexpr auto kJitterWindow = 2s;
// A packet this much later than its place in the stream is a stall's
// backlog (dropped by the trim), not jitter to plan for.
constexpr double kStallMs = 500;
// Made-up sound while nothing comes: after 60 ms the spurt is taken as over
// (its closing packet was lost, or the path broke).
constexpr int kMaxEmptyConceals = 3;
// A gap longer than this (100 ms) is skipped rather than filled.
constexpr std::uint64_t kMaxFilledGap = 5;
// A sequence this many steps behind the stream: the sender counts afresh.
constexpr std::uint64_t kRestartSteps = 50;
// Frames lost within a few seconds that make the path a lossy one.
constexpr auto kLossMemory = 4s;
constexpr size_t kLossyCount = 2;
constexpr int kUnderrunStepMs = 10;
constexpr int kMaxUnderrunBonusMs = 40;
constexpr auto kCalmBeforeShrink = 2s;
// Beyond the target by this much (or by the target, if larger): trimmed at once.
constexpr int kBurstSlackMs = 60;
// Half a second holds 25 packets of 20 ms: their least fill is a fair one.
constexpr auto kDriftWindow = 500ms;
// The least a spurt's first packet waits for the next: the loudspeaker takes
// its sound a few milliseconds at a time, ahead of when it plays.
constexpr int kMinStartWaitMs = 5;
// Surplus delay is cut out of a decoded frame once it is this long; the cut
// is joined over a crossfade this long, where the sound before and after it
// are most alike.
constexpr int kMinCutMs = 2;
constexpr size_t kCrossfadeSamples = 120;

int MsOf(size_t samples) { return static_cast<int>(samples / kSamplesPerMs); }

// How alike the frame's first crossfade-long piece and the one `lag` later are (-1..1).
double Likeness(const std::vector<std::int16_t>& pcm, size_t lag, double energy0) {
    double dot = 0, energy = 0;
    for (size_t i = 0; i < kCrossfadeSamples; ++i) {
        dot += double(pcm[i]) * pcm[lag + i];
        energy += double(pcm[lag + i]) * pcm[lag + i];
    }
    return energy0 > 0 && energy > 0 ? dot / std::sqrt(energy0 * energy) : 1.0;
}

// Shortens `pcm` by up to `cut` samples (half as many at least, and never
// more than the frame less a crossfade), at a lag where the sound repeats
// itself (for voiced sound or a tone, whole periods), joined by a crossfade
// from the frame's start into it, so that no step is heard. Runs on the
// sound server's thread: nothing allocates. Returns how many samples went.
size_t Splice(std::vector<std::int16_t>& pcm, size_t cut) {
    if (pcm.size() < 2 * kCrossfadeSamples) return 0;
    size_t hi = std::min(cut, pcm.size() - kCrossfadeSamples);
    size_t lo = std::max<size_t>(1, hi / 2);
    if (lo > hi) return 0;
    double energy0 = 0;
    for (size_t i = 0; i < kCrossfadeSamples; ++i) energy0 += double(pcm[i]) * pcm[i];
    double bestScore = -2;
    for (size_t lag = lo; lag <= hi; ++lag) bestScore = std::max(bestScore, Likeness(pcm, lag, energy0));
    // Of the lags that match about as well (whole periods), the longest.
    size_t best = hi;
    while (best > lo && Likeness(pcm, best, energy0) < bestScore - 0.02) --best;
    for (size_t i = 0; i < kCrossfadeSamples; ++i) {
        double w = double(i) / double(kCrossfadeSamples);
        pcm[i] = static_cast<std::int16_t>(std::lround(pcm[i] * (1 - w) + pcm[best + i] * w));
    }
    pcm.erase(pcm.begin() + static_cast<std::ptrdiff_t>(kCrossfadeSamples),
              pcm.begin() + static_cast<std::ptrdiff_t>(kCrossfadeSamples + best));
    return best;
}

}  // namespace

int JitterBuffer::StartWaitMs() const { return std::max(kMinStartWaitMs, targetMs_ - MsOf(frameSamples_)); }

int JitterBuffer::bufferedMs() const { return MsOf(BufferedSamples()); }

size_t JitterBuffer::BufferedSamples() const {
    size_t n = pcm_.size() > pcmPos_ ? pcm_.size() - pcmPos_ : 0;
    for (const auto& [sequence, p] : packets_) n += p.samples;
    return n;
}

bool JitterBuffer::Push(std::uint64_t sequence, std::string_view opus, bool last, Clock::time_point now) {
    if (opus.empty()) {
        // Only the spurt's end: it closes with what is here.
        if (!last) return false;
        if (!packets_.empty()) {
            packets_.rbegin()->second.last = true;
        } else if (playing_) {
            endAfterFront_ = true;
        }
        return true;
    }
    int samples = Decoder::SamplesIn(opus);
    if (samples <= 0) return false;
    if (havePlayed_) {
        std::uint64_t step = step_ ? step_ : 1;
        // Far behind the stream: the sender counts afresh. While nothing
        // plays or waits, a few frames behind is enough to tell.
        std::uint64_t restartAfter = !playing_ && packets_.empty() ? kMaxFilledGap : kRestartSteps;
        if (sequence < nextSequence_ && (nextSequence_ - sequence) / step > restartAfter) {
            // Numbered from the start again (the sender reconnected): a new stream.
            packets_.clear();
            pcm_.clear();
            pcmPos_ = 0;
            playing_ = false;
            havePlayed_ = false;
            haveLastArrival_ = false;
            concealedAhead_ = 0;
            step_ = 0;  // and may count in other units
        } else if (sequence < nextSequence_) {
            ++counters_.late;
            return false;
        }
    }
    if (packets_.count(sequence)) return false;  // a copy (the same packet by both paths)
    // A new spurt (for timing and for learning the step): nothing waits, the
    // last one closed a spurt, or the numbering jumped.
    std::uint64_t apart = sequence > lastArrivalSequence_ ? sequence - lastArrivalSequence_
                                                          : lastArrivalSequence_ - sequence;
    bool jump = step_ != 0 && apart / step_ > kMaxFilledGap;
    bool newSpurt = (!playing_ && packets_.empty()) || !haveLastArrival_ || lastArrivalClosed_ || jump;
    if (newSpurt) {
        spurtStep_ = 0;
        spurtArrivals_ = 0;
    } else if (sequence > lastArrivalSequence_ && (spurtStep_ == 0 || apart < spurtStep_)) {
        spurtStep_ = apart;
    }
    ++spurtArrivals_;
    // The step is the smallest difference seen in a spurt. A smaller one is
    // taken at once; a larger one (another sender behind the same session)
    // once a few packets agree on it, so that one loss does not double it.
    if (spurtStep_ != 0 && (step_ == 0 || spurtStep_ < step_ || spurtArrivals_ >= 4)) step_ = spurtStep_;
    haveLastArrival_ = true;
    lastArrivalSequence_ = sequence;
    lastArrivalClosed_ = last;
    if (!playing_ && packets_.empty()) waitingSince_ = now;

    NoteArrival(sequence, static_cast<size_t>(samples), newSpurt, now);
    frameSamples_ = static_cast<size_t>(samples);
    packets_.emplace(sequence, Packet{std::string(opus), static_cast<size_t>(samples), last});
    while (packets_.size() > kMaxPackets) DropFront();
    // A burst (a stall's backlog): what is beyond the target now would only
    // be heard late. Keep the newest.
    size_t target = static_cast<size_t>(targetMs_) * kSamplesPerMs;
    size_t slack = static_cast<size_t>(std::max(kBurstSlackMs, targetMs_)) * kSamplesPerMs;
    if (BufferedSamples() > target + slack) TrimTo(target);
    return true;
}

void JitterBuffer::DropFront() {
    if (packets_.empty()) return;
    packets_.erase(packets_.begin());
    ++counters_.dropped;
}

void JitterBuffer::TrimTo(size_t samples) {
    while (packets_.size() > 1 && BufferedSamples() > samples) DropFront();
    if (playing_ && !packets_.empty()) {
        nextSequence_ = packets_.begin()->first;  // what was dropped is not missing
        concealedAhead_ = 0;
    }
}

void JitterBuffer::NoteArrival(std::uint64_t sequence, size_t samples, bool newSpurt, Clock::time_point now) {
    if (newSpurt) {
        // A spurt's first packet: its arrival is the reference for the others.
        spurtStart_ = now;
        spurtFirstSequence_ = sequence;
        ++spurt_;
    }
    if (step_ == 0 && sequence != spurtFirstSequence_) return;  // no place in the stream yet
    double frameMs = double(samples) / double(kSamplesPerMs);
    double index = step_ == 0 ? 0.0
                              : (double(sequence) - double(spurtFirstSequence_)) / double(step_);
    double transit = std::chrono::duration<double, std::milli>(now - spurtStart_).count() - index * frameMs;
    if (std::fabs(transit) <= kStallMs) arrivals_.push_back({now, transit, spurt_});
    UpdateTarget(now);
}

void JitterBuffer::UpdateTarget(Clock::time_point now) {
    while (!arrivals_.empty() && now - arrivals_.front().at > kJitterWindow) arrivals_.pop_front();
    while (!losses_.empty() && now - losses_.front() > kLossMemory) losses_.pop_front();
    // The spread of transit times within each spurt (each has its own reference).
    double spread = 0;
    for (size_t i = 0; i < arrivals_.size();) {
        double lo = arrivals_[i].transitMs, hi = lo;
        std::uint64_t spurt = arrivals_[i].spurt;
        for (; i < arrivals_.size() && arrivals_[i].spurt == spurt; ++i) {
            lo = std::min(lo, arrivals_[i].transitMs);
            hi = std::max(hi, arrivals_[i].transitMs);
        }
        spread = std::max(spread, hi - lo);
    }
    if (underrunBonusMs_ > 0 && now - lastUnderrun_ > kCalmBeforeShrink) {
        underrunBonusMs_ = std::max(0, underrunBonusMs_ - kUnderrunStepMs);
        lastUnderrun_ = now;
    }
    int frameMs = MsOf(frameSamples_);
    // On a lossy path the next packet must be here before a lost one's turn,
    // so that its redundancy can stand in.
    int floor = losses_.size() >= kLossyCount ? 2 * frameMs : frameMs;
    int want = frameMs + static_cast<int>(std::ceil(spread)) + underrunBonusMs_;
    targetMs_ = std::clamp(std::max(floor, want), kMinTargetMs, kMaxTargetMs);
}

bool JitterBuffer::StartSpurt(Clock::time_point now) {
    if (packets_.empty()) return false;
    bool closing = false;
    for (const auto& [sequence, p] : packets_) closing = closing || p.last;
    // The first packet is a frame of sound already: it waits only for the
    // jitter part of the target, after which the next packet is due before
    // this one has played. Waiting for the whole target would mean two
    // frames here at the start: a frame of delay for the whole spurt, or
    // until the trim below cuts it out again. It waits a loudspeaker's
    // piece longer: the piece that starts it is taken at once, and what is
    // left after it must still hold the wait. So a spurt starts no shallower
    // than the depth the trim keeps, and whatever pushes the stream deeper
    // later (a stall, a burst) is cut back to where it started, not left as
    // delay for the rest of the call. A spurt that is complete, or that much
    // more of it come at once, need not wait (a burst's spread is in the
    // target already: asking for a piece more would never be met).
    size_t wait = static_cast<size_t>(StartWaitMs()) * kSamplesPerMs;
    size_t enough = frameSamples_ + wait;
    auto waited = std::chrono::duration<double>(now - waitingSince_).count() * kSampleRate;
    if (BufferedSamples() < enough && !closing && waited < double(wait + pullSamples_)) return false;
    playing_ = true;
    havePlayed_ = true;
    nextSequence_ = packets_.begin()->first;
    nextKnown_ = true;
    concealedAhead_ = 0;
    emptyConceals_ = 0;
    endAfterFront_ = false;
    windowMin_ = SIZE_MAX;
    windowStart_ = now;
    return true;
}

void JitterBuffer::Conceal(size_t samples) {
    decoder_.Conceal(samples, pcm_);
    pcmPos_ = 0;
    level_ = LevelOf(pcm_.data(), pcm_.size());
}

void JitterBuffer::PlayFront() {
    auto node = packets_.extract(packets_.begin());
    const Packet& p = node.mapped();
    if (decoder_.Decode(p.opus, pcm_)) {
        ++counters_.played;
        if (cutAhead_ > 0 && Splice(pcm_, cutAhead_) > 0) ++counters_.shortened;
        cutAhead_ = 0;
        pcmPos_ = 0;
        level_ = LevelOf(pcm_.data(), pcm_.size());
    } else {
        Conceal(p.samples);  // undecodable: made up like a lost one
        ++counters_.concealed;
    }
    // Until the step is known, whatever comes next is next.
    nextSequence_ = node.key() + (step_ ? step_ : 1);
    nextKnown_ = step_ != 0;
    endAfterFront_ = p.last;
}

bool JitterBuffer::NextFrame(Clock::time_point now) {
    if (playing_ && endAfterFront_) {
        playing_ = false;  // the spurt's closing frame has played
        endAfterFront_ = false;
    }
    if (!playing_ && !StartSpurt(now)) return false;
    if (packets_.empty()) {
        if (emptyConceals_ >= kMaxEmptyConceals) {
            playing_ = false;  // nothing came: the spurt is over
            counters_.stretched += concealedAhead_;
            concealedAhead_ = 0;
            return false;
        }
        // Late or lost, we cannot tell yet: fill in, and let the next
        // packet's sequence say which it was.
        if (emptyConceals_ == 0) ++counters_.underruns;
        ++emptyConceals_;
        ++concealedAhead_;
        Conceal(frameSamples_);
        return true;
    }
    emptyConceals_ = 0;
    auto front = packets_.begin();
    if (step_ && nextKnown_ && front->first > nextSequence_) {
        std::uint64_t gap = (front->first - nextSequence_ + step_ / 2) / step_;
        // Frames made up while nothing was here stand for lost ones, unless
        // the buffer is thinner than its target: then they stay as delay.
        bool thin = BufferedSamples() < static_cast<size_t>(targetMs_) * kSamplesPerMs;
        std::uint64_t covered = thin ? 0 : std::min(gap, concealedAhead_);
        gap -= covered;
        nextSequence_ += covered * step_;
        counters_.concealed += covered;
        counters_.stretched += concealedAhead_ - covered;
        concealedAhead_ = 0;
        if (gap > kMaxFilledGap) {
            nextSequence_ = front->first;  // a jump in the numbering, not a loss
        } else if (gap > 0) {
            losses_.push_back(now);
            if (gap == 1) {
                // The next packet is here: its redundancy rebuilds the lost one.
                decoder_.DecodeFec(front->second.opus, front->second.samples, pcm_);
                pcmPos_ = 0;
                level_ = LevelOf(pcm_.data(), pcm_.size());
                ++counters_.recovered;
            } else {
                Conceal(frameSamples_);
                ++counters_.concealed;
            }
            nextSequence_ += step_;
            UpdateTarget(now);
            return true;
        }
    }
    // It was late, not lost: what was made up meanwhile is delay now, and
    // the target keeps a margin for the next such (a stream that stopped, or
    // a lost packet, is no reason for more delay).
    if (concealedAhead_ > 0) {
        counters_.stretched += concealedAhead_;
        underrunBonusMs_ = std::min(kMaxUnderrunBonusMs, underrunBonusMs_ + kUnderrunStepMs);
        lastUnderrun_ = now;
        UpdateTarget(now);
    }
    concealedAhead_ = 0;
    PlayFront();
    return true;
}

void JitterBuffer::NoteLevelAfterPull(Clock::time_point now) {
    if (!playing_) {
        windowMin_ = SIZE_MAX;
        windowStart_ = now;
        return;
    }
    windowMin_ = std::min(windowMin_, BufferedSamples());
    if (now - windowStart_ < kDriftWindow) return;
    // Never below what a spurt starts with (the target's jitter part) for a
    // whole window: the rest is surplus delay, left by a late burst or by a
    // loudspeaker that stalled. It is cut out of the next frame, up to most
    // of a frame a window: dropping whole frames would be heard as a step.
    // Small cuts too, so that the stream comes back to within a couple of
    // milliseconds of where it was.
    size_t keep = static_cast<size_t>(StartWaitMs()) * kSamplesPerMs;
    size_t surplus = windowMin_ != SIZE_MAX && windowMin_ > keep ? windowMin_ - keep : 0;
    if (surplus >= static_cast<size_t>(kMinCutMs) * kSamplesPerMs) cutAhead_ = surplus;
    windowMin_ = SIZE_MAX;
    windowStart_ = now;
}

size_t JitterBuffer::MixInto(std::int16_t* out, size_t count, float gain, Clock::time_point now) {
    pullSamples_ = count;
    size_t done = 0;
    while (done < count) {
        if (pcmPos_ >= pcm_.size() && !NextFrame(now)) break;
        size_t n = std::min(count - done, pcm_.size() - pcmPos_);
        audio::MixInto(out + done, pcm_.data() + pcmPos_, n, gain);
        pcmPos_ += n;
        done += n;
    }
    NoteLevelAfterPull(now);
    return done;
}

void JitterBuffer::Discard() {
    while (!packets_.empty()) PlayFront();
    pcmPos_ = pcm_.size();
    playing_ = false;
    endAfterFront_ = false;
}

}  // namespace qmnim::audio
