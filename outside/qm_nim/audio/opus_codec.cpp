#include "outside/qm_nim/audio/opus_codec.h"

#include <opus/opus.h>

#include <algorithm>

#include "outside/qm_nim/audio/audio_format.h"

namespace qmnim::audio {

namespace {
constexpr int kMaxPacketBytes = 1000;  // within the packet budget with room for the header
constexpr int kMaxDecodedSamples = 5760;  // 120 ms, the longest Opus packet
// Bytes per second the protocol adds to each 20 ms frame over TCP (IP, TCP,
// the tunnel frame and the voice header), as other clients reckon it.
constexpr int kOverheadBitsPerSecond = 49 * 8 * 50;
// Speech is coded by the speech coder (alone or with the transform coder
// above 8 kHz), whose searches grow with complexity. Measured on synthetic
// speech at 24 kb/s: 10 costs 560 µs a frame, 5 260 µs, 1 110-150 µs, and
// the log-spectral distance to the input grows from 6.1 dB (10) to 6.3 (5)
// and 6.8 dB (1); below 1 it jumps (7.3 dB at 0). Frames go out all the time
// someone talks, so 1 keeps a talking client's coding to about half a percent
// of a core. Music and low-delay rooms use the transform coder alone, which
// costs a fifth of that at 5.
constexpr int kSpeechComplexity = 1;
}  // namespace

Encoder::Encoder(OpusUse use, int bitrate) {
    int application = use == OpusUse::Speech   ? OPUS_APPLICATION_VOIP
                      : use == OpusUse::Music  ? OPUS_APPLICATION_AUDIO
                                               : OPUS_APPLICATION_RESTRICTED_LOWDELAY;
    int error = 0;
    encoder_ = opus_encoder_create(kSampleRate, 1, application, &error);
    if (error != OPUS_OK) encoder_ = nullptr;
    if (encoder_) {
        opus_encoder_ctl(encoder_, OPUS_SET_VBR(0));  // steady packets fit the bandwidth limit
        opus_encoder_ctl(encoder_, OPUS_SET_COMPLEXITY(use == OpusUse::Speech ? kSpeechComplexity : 5));
        SetBitrate(bitrate);
    }
}

Encoder::~Encoder() {
    if (encoder_) opus_encoder_destroy(encoder_);
}

void Encoder::SetBitrate(int bitrate) {
    bitrate_ = bitrate;
    if (encoder_) opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(bitrate));
}

void Encoder::SetExpectedLoss(int percent) {
    if (!encoder_) return;
    percent = std::clamp(percent, 0, 100);
    opus_encoder_ctl(encoder_, OPUS_SET_INBAND_FEC(percent > 0 ? 1 : 0));
    opus_encoder_ctl(encoder_, OPUS_SET_PACKET_LOSS_PERC(percent));
}

void Encoder::Reset() {
    if (encoder_) opus_encoder_ctl(encoder_, OPUS_RESET_STATE);
}

std::string Encoder::Encode(const std::int16_t* frame) {
    if (!encoder_) return {};
    unsigned char packet[kMaxPacketBytes];
    int n = opus_encode(encoder_, frame, static_cast<int>(kFrameSamples), packet, kMaxPacketBytes);
    if (n <= 0) return {};
    return std::string(reinterpret_cast<char*>(packet), static_cast<size_t>(n));
}

Decoder::Decoder() {
    int error = 0;
    decoder_ = opus_decoder_create(kSampleRate, 1, &error);
    if (error != OPUS_OK) decoder_ = nullptr;
}

Decoder::~Decoder() {
    if (decoder_) opus_decoder_destroy(decoder_);
}

bool Decoder::Decode(std::string_view packet, std::vector<std::int16_t>& out) {
    out.resize(kMaxDecodedSamples);
    if (!decoder_ || packet.empty() || packet.size() > 0x7FFFFFFF) {
        out.clear();
        return false;
    }
    int n = opus_decode(decoder_, reinterpret_cast<const unsigned char*>(packet.data()),
                        static_cast<opus_int32>(packet.size()), out.data(), kMaxDecodedSamples, 0);
    if (n <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(n));
    return true;
}

void Decoder::Conceal(size_t samples, std::vector<std::int16_t>& out) {
    samples = std::min<size_t>(samples, kMaxDecodedSamples);
    out.assign(samples, 0);
    if (!decoder_) return;
    int n = opus_decode(decoder_, nullptr, 0, out.data(), static_cast<int>(samples), 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
}

void Decoder::DecodeFec(std::string_view next, size_t samples, std::vector<std::int16_t>& out) {
    samples = std::min<size_t>(samples, kMaxDecodedSamples);
    out.assign(samples, 0);
    if (!decoder_ || next.empty() || next.size() > 0x7FFFFFFF) return Conceal(samples, out);
    int n = opus_decode(decoder_, reinterpret_cast<const unsigned char*>(next.data()),
                        static_cast<opus_int32>(next.size()), out.data(), static_cast<int>(samples), 1);
    if (n <= 0) return Conceal(samples, out);
    out.resize(static_cast<size_t>(n));
}

int Decoder::SamplesIn(std::string_view packet) {
    if (packet.empty() || packet.size() > 0x7FFFFFFF) return 0;
    int n = opus_packet_get_nb_samples(reinterpret_cast<const unsigned char*>(packet.data()),
                                       static_cast<opus_int32>(packet.size()), kSampleRate);
    return n > 0 && n <= kMaxDecodedSamples ? n : 0;
}

int ChooseBitrate(bool highRate, OpusUse use, std::uint32_t maxBandwidth) {
    int wish = use == OpusUse::Speech ? (highRate ? 40000 : 24000) : (highRate ? 64000 : 32000);
    if (maxBandwidth > 0) {
        int room = static_cast<int>(std::min<std::uint32_t>(maxBandwidth, 1000000)) - kOverheadBitsPerSecond;
        wish = std::min(wish, room);
    }
    return std::max(wish, 8000);
}

OpusUse UseOfAudioMode(int audioMode) {
    if (audioMode == 0) return OpusUse::Speech;
    if (audioMode == 1) return OpusUse::LowDelay;
    return OpusUse::Music;
}

}  // namespace qmnim::audio
