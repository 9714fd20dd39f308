// Whether the microphone carries speech, decided per 10 ms block from the
// probability the noise suppressor gives: it opens once two blocks in a row
// reach kStart (a lone click does not open it) and stays open while blocks
// reach kContinue (the quieter ends of words keep it). The transmitter adds
// its hangover after it closes.
#pragma once

namespace qmnim::audio {

class SpeechGate {
public:
    static constexpr float kStart = 0.5f;
    static constexpr float kContinue = 0.3f;
    static constexpr int kStartBlocks = 2;

    // The next block's probability; whether the gate is open for it.
    bool Update(float probability) {
        if (open_) {
            open_ = probability >= kContinue;
            if (!open_) rising_ = 0;
        } else {
            rising_ = probability >= kStart ? rising_ + 1 : 0;
            open_ = rising_ >= kStartBlocks;
        }
        return open_;
    }
    bool open() const { return open_; }
    void Reset() {
        open_ = false;
        rising_ = 0;
    }

private:
    bool open_ = false;
    int rising_ = 0;
};

}  // namespace qmnim::audio
