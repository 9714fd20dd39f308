// The machine's sound devices as the voice module offers them: every hardware
// PCM of every sound card, by its ALSA address "hw:CARD,DEVICE".
#pragma once

#include <string>
#include <vector>

namespace qmnim {

struct AudioDevice {
    std::string path;  // "hw:0,0"
    std::string name;  // card and device description
    bool capture = false;
    bool playback = false;
};

// The devices of this machine (ALSA's control interface where the library is
// available, else /proc/asound/pcm); empty without sound hardware.
std::vector<AudioDevice> EnumerateAudioDevices();

// Reads the text of /proc/asound/pcm ("00-00: id : name : playback 1 : capture 1").
std::vector<AudioDevice> ParseProcAsoundPcm(const std::string& text);

}  // namespace qmnim
