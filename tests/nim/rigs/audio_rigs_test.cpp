// The sound rigs on a private PulseAudio server: sounds reach the virtual
// microphone at the level asked, the echo loop brings the loudspeaker back
// 10 dB down and goes with its object, speech stands out of its pauses as
// measured.
#include <gtest/gtest.h>

#include "tests/nim/rigs/audio_measure.h"
#include "tests/nim/rigs/audio_rigs.h"
#include "tests/nim/voice_servers.h"

namespace qmtest {
namespace {

using namespace std::chrono_literals;

bool Quiet(const std::vector<short>& s) { return LevelDbfs(s) < -90; }
bool Sounding(const std::vector<short>& s) { return LevelDbfs(s) > -90; }

class AudioRigs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pulse_.Start()) << pulse_.Log();
        mic_ = std::make_unique<Recorder>(pulse_.address(), "mic");
        ASSERT_TRUE(mic_->recording());
    }
    // The microphone's next `duration` once something is heard (players take
    // a moment to start) in which the player did not stall: on a loaded
    // machine a player may miss its turn, and a silent 10 ms block lowers
    // the level measured. Bounded in tries; the last window otherwise.
    std::vector<short> HeardOnMic(std::chrono::milliseconds duration) {
        if (!mic_->WaitFor(Sounding, 100ms, 20s)) return {};
        mic_->Next(200ms);  // past the start
        std::vector<short> heard;
        for (int i = 0; i < 6; ++i) {
            heard = mic_->Next(duration);
            if (CountSilentBlocks(heard, -90) == 0) break;
        }
        return heard;
    }
    PulseServer pulse_;
    std::unique_ptr<Recorder> mic_;
};

TEST_F(AudioRigs, SoundsReachTheMicrophoneAtTheLevelAsked) {
    {
        auto noise = SoundPlayer::Noise(pulse_.address(), "micfeed", -50);
        EXPECT_NEAR(LevelDbfs(HeardOnMic(1000ms)), -50, 1.5);
    }
    EXPECT_TRUE(mic_->WaitFor(Quiet, 100ms, 10s));
    {
        auto pink = SoundPlayer::Noise(pulse_.address(), "micfeed", -40, true);
        std::vector<short> heard = HeardOnMic(1000ms);
        EXPECT_NEAR(LevelDbfs(heard), -40, 1.5);
        // Pink: more energy low than high, unlike white noise.
        EXPECT_GT(ToneLevelDbfs(heard, 200), ToneLevelDbfs(heard, 6400) + 10);
    }
    EXPECT_TRUE(mic_->WaitFor(Quiet, 100ms, 10s));
    auto tone = SoundPlayer::Tone(pulse_.address(), "micfeed", 1000, -20);
    std::vector<short> heard = HeardOnMic(1000ms);
    EXPECT_NEAR(ToneLevelDbfs(heard, 1000), -20, 1);
    EXPECT_LT(ToneLevelDbfs(heard, 1500), -60);
}

TEST_F(AudioRigs, TheEchoLoopBringsTheLoudspeakerBackTenDecibelsDown) {
    Recorder speaker(pulse_.address(), "spk.monitor");
    auto room = SoundPlayer::Tone(pulse_.address(), "spk", 1000, -20);
    ASSERT_TRUE(speaker.WaitFor([](const std::vector<short>& s) { return LevelDbfs(s) > -30; }, 100ms, 20s));
    EXPECT_TRUE(Quiet(mic_->Next(300ms))) << "no echo without the loop";
    {
        EchoLoop echo(pulse_.address(), -10);
        ASSERT_TRUE(echo.active());
        std::vector<short> heard = HeardOnMic(1000ms);
        EXPECT_NEAR(ToneLevelDbfs(heard, 1000), -30, 1.5);
    }
    EXPECT_TRUE(mic_->WaitFor(Quiet, 100ms, 10s)) << "the loop outlived its object";
}

TEST_F(AudioRigs, SpeechStandsOutOfItsPausesAndLessSoOverNoise) {
    std::vector<short> speech = SpeechSample("Can you hear me now? The quick brown fox jumps over the lazy dog.", -20, 2000);
    ASSERT_GT(speech.size(), 48000u * 3);
    EXPECT_NEAR(ActiveLevelDbfs(speech), -20, 0.5);
    double clean = SpeechOverPauseDb(speech);
    EXPECT_GT(clean, 40);

    auto talk = SoundPlayer::Samples(pulse_.address(), "micfeed", speech);
    auto noise = SoundPlayer::Noise(pulse_.address(), "micfeed", -45, true);
    std::vector<short> heard = HeardOnMic(std::chrono::milliseconds(speech.size() / 48));
    double noisy = SpeechOverPauseDb(heard);
    EXPECT_LT(noisy, clean - 10);
    EXPECT_GT(noisy, 10);
}

}  // namespace
}  // namespace qmtest
