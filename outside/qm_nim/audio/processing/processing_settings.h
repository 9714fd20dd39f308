// Which stages of the microphone's processing run. All are on unless the
// installation's deployment file turns one off in its [voice] section:
//   echo_cancellation=off   noise_suppression=off   auto_gain=off   speech_detection=off
// (off, no, false or 0; anything else, or no line, is on). Noise suppression,
// gain and speech detection apply to speech rooms only; echo cancellation to
// every room.
#pragma once

#include <string>

namespace qmnim::audio {

struct ProcessingSettings {
    bool echoCancellation = true;
    bool noiseSuppression = true;
    bool autoGain = true;
    bool speechDetection = true;
};

// A [voice] value as a switch: false only for "off", "no", "false" or "0" (any case, spaces ignored).
bool SwitchIsOn(const std::string& value);

}  // namespace qmnim::audio
