// What the user sends: the microphone and a shared program's sound, each
// scaled by its gain, mixed into 20 ms frames, gated by a simple loudness
// check (silence is not sent; a steady tone is), Opus-encoded and handed on as
// voice packets numbered in 10 ms units. In test mode the microphone goes to
// the user's own loudspeaker instead and nothing is sent.
//
// Sound arrives on the sound server's thread; settings come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outside/qm_nim/audio/opus_codec.h"

namespace qmnim::audio {

class Transmitter {
public:
    enum class Input { Mic, Program };
    // A finished voice packet (proto::BuildVoicePacket format).
    using PacketSink = std::function<void(std::string packet)>;
    // Plain samples: what the user sends (for the room's published mix) or,
    // in test mode, what the user should hear.
    using SampleSink = std::function<void(const std::int16_t* samples, size_t count)>;

    Transmitter(PacketSink packets, SampleSink sent, SampleSink testEcho);

    // Samples of one input (48 kHz mono). The microphone, when it runs, sets
    // the pace; otherwise the program's sound does.
    void OnSamples(Input input, const std::int16_t* samples, size_t count);
    void SetInputActive(Input input, bool active);
    void SetTestMode(bool test) { testMode_.store(test); }
    void SetMuted(bool muted) { muted_.store(muted); }
    void SetSending(bool sending) { sending_.store(sending); }  // in a room, not a viewer
    void SetMicGain(float gain) { micGain_.store(gain); }
    void SetProgramGain(float gain) { programGain_.store(gain); }
    void Configure(OpusUse use, int bitrate);
    // The share of packets the path loses (percent), for the encoder's redundancy.
    void SetExpectedLoss(int percent) { expectedLoss_.store(percent); }

    int level() const { return level_.load(); }         // 0..100 of the last frame
    bool speaking() const { return speaking_.load(); }  // frames are going out
    std::uint64_t framesSent() const { return framesSent_.load(); }
    std::uint64_t sequence() const;

private:
    void FrameReadyLocked(const std::int16_t* frame);
    void EndTransmissionLocked();

    const PacketSink packets_;
    const SampleSink sent_;
    const SampleSink testEcho_;
    std::mutex lock_;
    std::deque<std::int16_t> mic_, program_;
    bool micActive_ = false, programActive_ = false;
    std::unique_ptr<Encoder> encoder_;
    OpusUse use_ = OpusUse::Music;
    int bitrate_ = 40000;
    std::uint64_t sequence_ = 0;
    bool transmitting_ = false;
    int quietFrames_ = 0;
    std::vector<std::int16_t> frame_;
    std::atomic<bool> testMode_{false}, muted_{false}, sending_{false};
    std::atomic<float> micGain_{1.0f}, programGain_{1.0f};
    std::atomic<int> level_{0};
    std::atomic<int> expectedLoss_{0};
    int appliedLoss_ = -1;  // what the encoder was told last
    std::atomic<bool> speaking_{false};
    std::atomic<std::uint64_t> framesSent_{0};
};

}  // namespace qmnim::audio
