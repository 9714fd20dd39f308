// Opus frames of a test sound (20 ms, 48 kHz, mono), for rigs that speak the
// voice protocol themselves instead of through a sound server.
#pragma once

#include <memory>
#include <string>

struct OpusEncoder;

namespace qmtest {

class OpusTone {
public:
    // A sine tone of `hz` at `dbfs` (RMS of a full-scale sine is -3 dBFS).
    explicit OpusTone(double hz, double dbfs = -12, int bitrate = 40000);
    ~OpusTone();
    OpusTone(const OpusTone&) = delete;
    OpusTone& operator=(const OpusTone&) = delete;
    // The next 20 ms of the tone, encoded; empty when the encoder failed.
    std::string Next();

private:
    OpusEncoder* encoder_ = nullptr;
    double hz_, amplitude_;
    long long position_ = 0;
};

}  // namespace qmtest
