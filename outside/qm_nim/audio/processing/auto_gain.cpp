#include "outside/qm_nim/audio/processing/auto_gain.h"

#include <algorithm>
#include <cmath>

namespace qmnim::audio {
namespace {

constexpr double kFollow = 0.025;     // per 10 ms block: the level follows over about 0.4 s
constexpr double kRisePerBlock = 0.12;  // dB: 12 dB a second
constexpr double kFallPerBlock = 0.4;   // dB: 40 dB a second
constexpr double kPeakLimit = 29000;    // below full scale: the encoder needs no clipping
constexpr int kLearnAfter = 5;          // blocks of speech in a row

double Db(double linear) { return 20 * std::log10(linear); }
double Linear(double db) { return std::pow(10.0, db / 20); }

}  // namespace

void AutoGain::Process(std::int16_t* block, size_t count, bool speech) {
    if (count == 0) return;
    double sum = 0, peak = 0;
    for (size_t i = 0; i < count; ++i) {
        sum += double(block[i]) * block[i];
        peak = std::max(peak, std::fabs(double(block[i])));
    }
    double rmsDb = Db(std::sqrt(sum / double(count)) / 32768.0 + 1e-9);
    speechRun_ = speech ? speechRun_ + 1 : 0;
    if (speechRun_ >= kLearnAfter && rmsDb > -70) {
        levelDb_ = heard_ ? levelDb_ + kFollow * (rmsDb - levelDb_) : rmsDb;
        heard_ = true;
    }
    double wanted = heard_ ? std::clamp(kTargetDb - levelDb_, kMinGainDb, kMaxGainDb) : 0;
    double next = std::clamp(wanted, gainDb_ - kFallPerBlock, gainDb_ + kRisePerBlock);
    if (peak > 0) next = std::min(next, Db(kPeakLimit / peak));
    // From the last gain to the next across the block: no step to hear.
    const double from = Linear(gainDb_), to = Linear(next);
    for (size_t i = 0; i < count; ++i) {
        double g = from + (to - from) * double(i + 1) / double(count);
        block[i] = static_cast<std::int16_t>(std::clamp(std::lround(block[i] * g), -32768L, 32767L));
    }
    gainDb_ = next;
}

}  // namespace qmnim::audio
