// Measurements of recorded sound (48 kHz mono, 16-bit) for the voice tests:
// levels, silent 10 ms blocks, the level of one frequency.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qmtest {

constexpr int kSampleRate = 48000;
constexpr size_t kBlockSamples = kSampleRate / 100;  // 10 ms

// RMS level in dBFS of samples [from, from + count) (full-scale square wave: 0 dBFS); -200 for silence.
double LevelDbfs(const std::vector<short>& samples, size_t from = 0, size_t count = std::string::npos);
// For each whole 10 ms block: whether its level is below `belowDbfs`.
std::vector<bool> SilentBlocks(const std::vector<short>& samples, double belowDbfs = -60);
size_t CountSilentBlocks(const std::vector<short>& samples, double belowDbfs = -60);
// The longest run of silent blocks, in blocks.
size_t LongestSilence(const std::vector<short>& samples, double belowDbfs = -60);
// Level in dBFS of the component at `hz` alone (Goertzel over a Hann window),
// for telling a tone apart from everything else in a recording.
double ToneLevelDbfs(const std::vector<short>& samples, double hz);

// Level of what is heard while something sounds: RMS over the 10 ms blocks
// within 35 dB of the loudest one (and above -70 dBFS); -200 when all is quiet.
double ActiveLevelDbfs(const std::vector<short>& samples);
// For sound that alternates speech and pauses in about equal shares: the
// energy of its loudest 30 % of 10 ms blocks over that of its quietest 30 %,
// in dB (how far speech stands out of what fills the pauses).
double SpeechOverPauseDb(const std::vector<short>& samples);

}  // namespace qmtest
