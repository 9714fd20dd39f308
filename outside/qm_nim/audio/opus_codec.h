// Opus encoder and decoder for the module's format (48 kHz mono).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct OpusEncoder;
struct OpusDecoder;

namespace qmnim::audio {

// What the room is for: speech (voice-tuned), music (full band) or lowest delay.
enum class OpusUse { Speech, Music, LowDelay };

class Encoder {
public:
    Encoder(OpusUse use, int bitrate);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    bool ok() const { return encoder_ != nullptr; }
    void SetBitrate(int bitrate);
    int bitrate() const { return bitrate_; }
    // The share of packets the path loses (percent): above 0 each packet also
    // carries a coarse copy of the one before (in-band FEC), sized for it.
    void SetExpectedLoss(int percent);
    // One 20 ms frame in, one Opus packet out (empty on failure).
    std::string Encode(const std::int16_t* frame);
    void Reset();

private:
    OpusEncoder* encoder_ = nullptr;
    int bitrate_ = 0;
};

class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one packet into `out` (replacing its content); false when it is not Opus.
    bool Decode(std::string_view packet, std::vector<std::int16_t>& out);
    // A lost frame of `samples`, made up from what came before.
    void Conceal(size_t samples, std::vector<std::int16_t>& out);
    // A lost frame of `samples` rebuilt from the redundancy in `next`, the
    // packet after it (concealed like Conceal when `next` carries none).
    void DecodeFec(std::string_view next, size_t samples, std::vector<std::int16_t>& out);
    // Samples (48 kHz) a packet decodes to; 0 when it is not a valid Opus packet.
    static int SamplesIn(std::string_view packet);

private:
    OpusDecoder* decoder_ = nullptr;
};

// The bit rate for a room: `highRate` and `use` pick the wish, the server's
// `maxBandwidth` (bits/s including packet overhead, 0 = unknown) caps it.
int ChooseBitrate(bool highRate, OpusUse use, std::uint32_t maxBandwidth);
// audio_mode of the page: 0 speech, 1 lowest delay, anything else music.
OpusUse UseOfAudioMode(int audioMode);

}  // namespace qmnim::audio
