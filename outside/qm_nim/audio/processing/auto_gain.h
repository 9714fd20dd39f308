// The microphone brought to one speech level: the gain follows the level of
// what the speech detector calls speech for 50 ms in a row (and only that,
// so that pauses, noise and a lone false detection never pump it up),
// rising at most 12 dB a second and falling at most 40, from -12 to +30 dB,
// and drops at once where a block would clip.
//
// The libraries' gain controls do not fit here: WebRTC's digital one needs
// half a minute to raise a quiet voice, and speexdsp's raises the noise in
// the pauses once another stage has suppressed it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmnim::audio {

class AutoGain {
public:
    static constexpr double kTargetDb = -28;  // dBFS, the RMS of a 10 ms block of speech
    static constexpr double kMaxGainDb = 30;
    static constexpr double kMinGainDb = -12;

    // One block in place; `speech`: whether it holds speech (only speech moves the gain).
    void Process(std::int16_t* block, size_t count, bool speech);
    double gainDb() const { return gainDb_; }

private:
    double levelDb_ = kTargetDb;  // of recent speech
    bool heard_ = false;          // any speech yet
    int speechRun_ = 0;           // blocks of speech in a row
    double gainDb_ = 0;
};

}  // namespace qmnim::audio
