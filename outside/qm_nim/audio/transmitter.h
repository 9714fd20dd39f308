// What the user sends: the microphone, cleaned up by its processing (the
// loudspeaker's echo removed; for speech also noise, gain and a speech
// detector), and a shared program's sound, never processed, each scaled by
// its gain, mixed into 20 ms frames, Opus-encoded and handed on as voice
// packets numbered in 10 ms units. Speech rooms send what the detector calls
// speech (or the shared sound when it is not silent); music rooms send what
// is louder than silence, a steady tone included. Either keeps sending for a
// hangover after the last such frame and marks the last frame of a
// transmission. In test mode the microphone goes to the user's own
// loudspeaker instead and nothing is sent.
//
// Thread rules: sound arrives on the sound server's thread; settings come
// from any thread. One lock guards the state; the sound path never
// allocates once an input has started (the encoder is made at the first
// frame after a change of room settings).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "outside/qm_nim/audio/audio_format.h"
#include "outside/qm_nim/audio/opus_codec.h"
#include "outside/qm_nim/audio/processing/processing_settings.h"
#include "outside/qm_nim/audio/processing/sample_queue.h"

namespace qmnim::audio {

class MicrophoneProcessor;

class Transmitter {
public:
    using Clock = std::chrono::steady_clock;
    enum class Input { Mic, Program };
    // A finished voice packet (proto::BuildVoicePacket format).
    using PacketSink = std::function<void(std::string packet)>;
    // Plain samples: what the user sends (for the room's published mix) or,
    // in test mode, what the user should hear.
    using SampleSink = std::function<void(const std::int16_t* samples, size_t count)>;

    // A follower input (the shared sound while the microphone sets the
    // pace) starts being mixed once it holds this much, so that its pieces
    // arriving a little early or late never leave holes in it...
    static constexpr size_t kFollowerStart = kFrameSamples + kFrameSamples / 2;
    // ...and never lags more than this (older sound is dropped).
    static constexpr size_t kMaxBacklog = 5 * kFrameSamples;
    static constexpr int kVoiceLevel = 8;       // LevelOf: about -55 dBFS, below it a frame is silence
    static constexpr int kHangoverFrames = 20;  // 400 ms after the last wanted frame

    Transmitter(PacketSink packets, SampleSink sent, SampleSink testEcho);
    ~Transmitter();
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;

    // The microphone's processing stages, from the next start of the microphone on.
    void SetProcessing(const ProcessingSettings& settings);
    // Samples of one input (48 kHz mono); the first was heard at `capturedAt`
    // (the echo canceller matches the microphone with what played then). The
    // microphone, when it runs, sets the pace; otherwise the program's sound does.
    void OnSamples(Input input, const std::int16_t* samples, size_t count, Clock::time_point capturedAt);
    void OnSamples(Input input, const std::int16_t* samples, size_t count) {
        OnSamples(input, samples, count, Clock::now());
    }
    // What the loudspeaker plays (the echo to cancel); the first sample is heard at `firstPlaysAt`.
    void OnPlayed(const std::int16_t* samples, size_t count, Clock::time_point firstPlaysAt);
    void SetInputActive(Input input, bool active);
    void SetTestMode(bool test) { testMode_.store(test); }
    void SetMuted(bool muted) { muted_.store(muted); }
    void SetSending(bool sending) { sending_.store(sending); }  // in a room, not a viewer
    void SetMicGain(float gain) { micGain_.store(gain); }
    void SetProgramGain(float gain) { programGain_.store(gain); }
    // The room's Opus use (Speech and LowDelay are speech rooms) and bit rate.
    void Configure(OpusUse use, int bitrate);
    // The share of packets the path loses (percent), for the encoder's redundancy.
    void SetExpectedLoss(int percent) { expectedLoss_.store(percent); }

    int level() const { return level_.load(); }         // 0..100 of the last frame
    bool speaking() const { return speaking_.load(); }  // frames are going out
    std::uint64_t framesSent() const { return framesSent_.load(); }
    std::uint64_t bytesSent() const { return bytesSent_.load(); }
    std::uint64_t sequence() const;
    // The echo canceller's account of the microphone's run: the delay the
    // echo path adds to the sound server's latencies (as found), and how
    // often its reference slipped. Nothing while no canceller heard the loudspeaker.
    struct EchoAccount {
        std::int64_t pathDelayMs = 0;
        std::uint32_t moves = 0, steps = 0;
    };
    std::optional<EchoAccount> echoAccount() const;

private:
    void MicBlockLocked(Clock::time_point capturedAt);
    // Makes frames while the leading input has one.
    void DrainLocked(bool micLeads);
    void FrameReadyLocked(bool micSpeech, bool detects, int programLevel);
    void EndTransmissionLocked();
    bool SpeechRoomLocked() const { return use_ != OpusUse::Music; }

    const PacketSink packets_;
    const SampleSink sent_;
    const SampleSink testEcho_;
    mutable std::mutex lock_;
    ProcessingSettings settings_;
    std::unique_ptr<MicrophoneProcessor> processor_;
    bool micActive_ = false, programActive_ = false;
    // The microphone: the block being filled, then processed samples.
    std::array<std::int16_t, 480> block_{};
    size_t blockFill_ = 0;
    Clock::time_point blockStart_{};
    SampleQueue mic_{4 * kFrameSamples};
    bool micSpeech_ = false;  // a block of the frame being filled holds speech
    SampleQueue program_{2 * kMaxBacklog};
    bool programFlowing_ = false;  // as a follower: primed with kFollowerStart
    std::array<std::int16_t, kFrameSamples> frame_{}, part_{};
    std::unique_ptr<Encoder> encoder_;
    OpusUse use_ = OpusUse::Music;
    int bitrate_ = 40000;
    std::uint64_t sequence_ = 0;
    bool transmitting_ = false;
    int quietFrames_ = 0;
    std::atomic<bool> testMode_{false}, muted_{false}, sending_{false};
    std::atomic<float> micGain_{1.0f}, programGain_{1.0f};
    std::atomic<int> level_{0};
    std::atomic<int> expectedLoss_{0};
    int appliedLoss_ = -1;  // what the encoder was told last
    std::atomic<bool> speaking_{false};
    std::atomic<std::uint64_t> framesSent_{0}, bytesSent_{0};
};

}  // namespace qmnim::audio
