#include "tests/nim/rigs/opus_frames.h"

#include <opus/opus.h>

#include <cmath>
#include <vector>

namespace qmtest {

namespace {
constexpr int kRate = 48000;
constexpr int kFrame = kRate / 50;
}  // namespace

OpusTone::OpusTone(double hz, double dbfs, int bitrate)
    : hz_(hz), amplitude_(32767.0 * std::sqrt(2.0) * std::pow(10.0, dbfs / 20.0)) {
    int error = 0;
    encoder_ = opus_encoder_create(kRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (error != OPUS_OK) encoder_ = nullptr;
    if (encoder_) opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(bitrate));
}

OpusTone::~OpusTone() {
    if (encoder_) opus_encoder_destroy(encoder_);
}

std::string OpusTone::Next() {
    if (!encoder_) return {};
    std::vector<opus_int16> pcm(kFrame);
    for (int i = 0; i < kFrame; ++i, ++position_) {
        double v = amplitude_ * std::sin(2 * M_PI * hz_ * double(position_) / kRate);
        pcm[static_cast<size_t>(i)] = static_cast<opus_int16>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    unsigned char out[1000];
    opus_int32 n = opus_encode(encoder_, pcm.data(), kFrame, out, sizeof out);
    return n > 0 ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)) : std::string();
}

}  // namespace qmtest
