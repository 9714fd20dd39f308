#include "outside/qm_nim/audio/transmitter.h"

#include <algorithm>

#include "outside/qm_nim/audio/processing/microphone_processor.h"
#include "outside/qm_nim/proto/voice_packet.h"

namespace qmnim::audio {

Transmitter::Transmitter(PacketSink packets, SampleSink sent, SampleSink testEcho)
    : packets_(std::move(packets)), sent_(std::move(sent)), testEcho_(std::move(testEcho)) {}

Transmitter::~Transmitter() = default;

void Transmitter::SetProcessing(const ProcessingSettings& settings) {
    std::lock_guard<std::mutex> lock(lock_);
    settings_ = settings;
}

void Transmitter::Configure(OpusUse use, int bitrate) {
    std::lock_guard<std::mutex> lock(lock_);
    if (encoder_ && use == use_) {
        if (bitrate != bitrate_) encoder_->SetBitrate(bitrate);
    } else {
        encoder_.reset();  // made again with the new use at the next frame
    }
    use_ = use;
    bitrate_ = bitrate;
    if (processor_) processor_->SetSpeech(SpeechRoomLocked());
}

std::uint64_t Transmitter::sequence() const {
    std::lock_guard<std::mutex> lock(lock_);
    return sequence_;
}

std::optional<Transmitter::EchoAccount> Transmitter::echoAccount() const {
    std::lock_guard<std::mutex> lock(lock_);
    if (!processor_ || !processor_->echoHeard()) return std::nullopt;
    EchoReference::Slips slips = processor_->echoSlips();
    return EchoAccount{processor_->echoPathDelay() / static_cast<std::int64_t>(kSamplesPerMs), slips.moves, slips.steps};
}

void Transmitter::SetInputActive(Input input, bool active) {
    // A microphone that starts gets processing of its own (a new device is a
    // new echo path); it is made here, not on the sound server's thread.
    std::unique_ptr<MicrophoneProcessor> fresh, old;
    if (input == Input::Mic && active) {
        ProcessingSettings settings;
        {
            std::lock_guard<std::mutex> lock(lock_);
            settings = settings_;
        }
        fresh = std::make_unique<MicrophoneProcessor>(settings);
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (input == Input::Mic) {
        micActive_ = active;
        mic_.Clear();
        blockFill_ = 0;
        micSpeech_ = false;
        if (fresh) {
            old = std::move(processor_);
            processor_ = std::move(fresh);
            processor_->SetSpeech(SpeechRoomLocked());
        }
    } else {
        programActive_ = active;
    }
    // Either input starting or stopping changes who leads: the program's backlog starts afresh.
    program_.Clear();
    programFlowing_ = false;
    if (!micActive_ && !programActive_) {
        EndTransmissionLocked();
        level_.store(0);
    }
}

void Transmitter::OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt) {
    std::lock_guard<std::mutex> lock(lock_);
    if (processor_ && micActive_) processor_->OnPlayed(samples, count, firstPlaysAt);
}

void Transmitter::OnSamples(Input input, const std::int16_t* samples, size_t count, Clock::time_point capturedAt) {
    std::lock_guard<std::mutex> lock(lock_);
    if (input == Input::Mic) {
        if (!micActive_) return;
        for (size_t done = 0; done < count;) {
            if (blockFill_ == 0)
                blockStart_ = capturedAt + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(double(done) / kSampleRate));
            size_t n = std::min(count - done, block_.size() - blockFill_);
            std::copy(samples + done, samples + done + n, block_.begin() + static_cast<std::ptrdiff_t>(blockFill_));
            blockFill_ += n;
            done += n;
            if (blockFill_ == block_.size()) {
                blockFill_ = 0;
                MicBlockLocked(blockStart_);
            }
        }
        return;
    }
    if (!programActive_) return;
    program_.Push(samples, count);
    if (micActive_) {
        // A follower: bounded, and older sound goes first.
        if (program_.size() > kMaxBacklog) program_.Drop(program_.size() - kFollowerStart);
        return;
    }
    DrainLocked(false);
}

void Transmitter::MicBlockLocked(Clock::time_point capturedAt) {
    bool speech = true;
    if (processor_) {
        // While the user hears their own microphone, what plays is no echo to remove.
        processor_->SetEchoCancellation(!testMode_.load());
        speech = processor_->Process(block_.data(), capturedAt);
    }
    ApplyGain(block_.data(), block_.size(), micGain_.load());
    micSpeech_ = micSpeech_ || speech;
    mic_.Push(block_.data(), block_.size());
    DrainLocked(true);
}

void Transmitter::DrainLocked(bool micLeads) {
    SampleQueue& leader = micLeads ? mic_ : program_;
    while (leader.size() >= kFrameSamples) {
        leader.Pop(frame_.data(), kFrameSamples);
        bool micSpeech = micSpeech_;
        micSpeech_ = false;
        int programLevel = 0;
        if (!micLeads) {
            ApplyGain(frame_.data(), kFrameSamples, programGain_.load());
            programLevel = LevelOf(frame_.data(), kFrameSamples);
        } else if (programActive_) {
            if (!programFlowing_ && program_.size() >= kFollowerStart) programFlowing_ = true;
            if (programFlowing_) {
                size_t got = program_.Pop(part_.data(), kFrameSamples);
                std::fill(part_.begin() + static_cast<std::ptrdiff_t>(got), part_.end(), 0);
                if (got < kFrameSamples) programFlowing_ = false;  // ran dry: wait for a margin again
                ApplyGain(part_.data(), kFrameSamples, programGain_.load());
                programLevel = LevelOf(part_.data(), kFrameSamples);
                MixInto(frame_.data(), part_.data(), kFrameSamples, 1.0f);
            }
        }
        bool detects = micLeads && processor_ && processor_->detects();
        FrameReadyLocked(micSpeech, detects, programLevel);
    }
}

void Transmitter::FrameReadyLocked(bool micSpeech, bool detects, int programLevel) {
    const std::int16_t* frame = frame_.data();
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
    // Speech rooms send speech and whatever is shared; music rooms anything above silence.
    bool wanted = detects ? micSpeech || programLevel >= kVoiceLevel : level >= kVoiceLevel;
    quietFrames_ = wanted ? 0 : quietFrames_ + 1;
    if (!transmitting_ && !wanted) {
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
    bytesSent_ += packet.size();
    packets_(std::move(packet));
    if (sent_) sent_(frame, kFrameSamples);
}

void Transmitter::EndTransmissionLocked() {
    if (!transmitting_) return;
    transmitting_ = false;
    speaking_.store(false);
    // A frame of silence marked as the last one tells listeners the speaker stopped.
    if (!encoder_) return;
    std::array<std::int16_t, kFrameSamples> silence{};
    std::string opus = encoder_->Encode(silence.data());
    std::string packet = opus.empty() ? std::string() : proto::BuildVoicePacket(sequence_, opus, true);
    sequence_ += kSequencePerFrame;
    if (packet.empty()) return;
    bytesSent_ += packet.size();
    packets_(std::move(packet));
}

}  // namespace qmnim::audio
