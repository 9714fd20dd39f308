#include "tests/nim/rigs/audio_measure.h"

#include <algorithm>
#include <cmath>

namespace qmtest {

double LevelDbfs(const std::vector<short>& samples, size_t from, size_t count) {
    if (from >= samples.size()) return -200;
    size_t end = count == std::string::npos ? samples.size() : std::min(samples.size(), from + count);
    double sum = 0;
    for (size_t i = from; i < end; ++i) sum += double(samples[i]) * samples[i];
    double rms = std::sqrt(sum / double(end - from)) / 32768.0;
    return rms > 0 ? 20 * std::log10(rms) : -200;
}

std::vector<bool> SilentBlocks(const std::vector<short>& samples, double belowDbfs) {
    std::vector<bool> silent;
    for (size_t at = 0; at + kBlockSamples <= samples.size(); at += kBlockSamples) silent.push_back(LevelDbfs(samples, at, kBlockSamples) < belowDbfs);
    return silent;
}

size_t CountSilentBlocks(const std::vector<short>& samples, double belowDbfs) {
    auto blocks = SilentBlocks(samples, belowDbfs);
    return static_cast<size_t>(std::count(blocks.begin(), blocks.end(), true));
}

size_t LongestSilence(const std::vector<short>& samples, double belowDbfs) {
    size_t longest = 0, run = 0;
    for (bool s : SilentBlocks(samples, belowDbfs)) {
        run = s ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

double ToneLevelDbfs(const std::vector<short>& samples, double hz) {
    size_t n = samples.size();
    if (n < 2) return -200;
    double w = 2 * M_PI * hz / kSampleRate, coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0, window = 0;
    for (size_t i = 0; i < n; ++i) {
        double h = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n - 1));
        window += h;
        double s0 = samples[i] / 32768.0 * h + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    // Amplitude of the sine, then its RMS (a full-scale sine: -3 dBFS).
    double amplitude = 2 * std::sqrt(std::max(power, 0.0)) / window;
    double rms = amplitude / std::sqrt(2.0);
    return rms > 0 ? 20 * std::log10(rms) : -200;
}

namespace {

// Mean square of each whole 10 ms block (full scale = 1).
std::vector<double> BlockEnergies(const std::vector<short>& samples) {
    std::vector<double> energies;
    for (size_t at = 0; at + kBlockSamples <= samples.size(); at += kBlockSamples) {
        double sum = 0;
        for (size_t i = at; i < at + kBlockSamples; ++i) sum += double(samples[i]) * samples[i];
        energies.push_back(sum / double(kBlockSamples) / (32768.0 * 32768.0));
    }
    return energies;
}

double Db(double energy) { return energy > 0 ? 10 * std::log10(energy) : -200; }

}  // namespace

double ActiveLevelDbfs(const std::vector<short>& samples) {
    std::vector<double> e = BlockEnergies(samples);
    if (e.empty()) return -200;
    double loudest = *std::max_element(e.begin(), e.end());
    double floor = std::max(loudest * std::pow(10.0, -3.5), std::pow(10.0, -7.0));
    double sum = 0;
    size_t n = 0;
    for (double x : e) {
        if (x >= floor) sum += x, ++n;
    }
    return n ? Db(sum / double(n)) : -200;
}

double SpeechOverPauseDb(const std::vector<short>& samples) {
    std::vector<double> e = BlockEnergies(samples);
    if (e.size() < 10) return 0;
    std::sort(e.begin(), e.end());
    size_t share = e.size() * 3 / 10;
    double quiet = 0, loud = 0;
    for (size_t i = 0; i < share; ++i) {
        quiet += e[i];
        loud += e[e.size() - 1 - i];
    }
    quiet = std::max(quiet, 1e-20);
    return Db(loud / quiet);
}

}  // namespace qmtest
