#include "outside/qm_nim/audio_devices.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if QM_NIM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace qmnim {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<AudioDevice> FromProcFile() {
    std::ifstream in("/proc/asound/pcm");
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseProcAsoundPcm(text.str());
}

#if QM_NIM_HAVE_ALSA
std::vector<AudioDevice> FromAlsa() {
    std::vector<AudioDevice> out;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        std::string address = "hw:" + std::to_string(card);
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, address.c_str(), 0) < 0) continue;
        snd_ctl_card_info_t* cardInfo = nullptr;
        snd_ctl_card_info_malloc(&cardInfo);
        std::string cardName = snd_ctl_card_info(ctl, cardInfo) >= 0 ? snd_ctl_card_info_get_name(cardInfo) : address;
        snd_pcm_info_t* pcmInfo = nullptr;
        snd_pcm_info_malloc(&pcmInfo);
        int device = -1;
        while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
            AudioDevice d;
            d.path = address + "," + std::to_string(device);
            for (snd_pcm_stream_t stream : {SND_PCM_STREAM_PLAYBACK, SND_PCM_STREAM_CAPTURE}) {
                snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(device));
                snd_pcm_info_set_subdevice(pcmInfo, 0);
                snd_pcm_info_set_stream(pcmInfo, stream);
                if (snd_ctl_pcm_info(ctl, pcmInfo) < 0) continue;
                (stream == SND_PCM_STREAM_PLAYBACK ? d.playback : d.capture) = true;
                if (d.name.empty()) d.name = cardName + ": " + snd_pcm_info_get_name(pcmInfo);
            }
            if (d.playback || d.capture) out.push_back(d);
        }
        snd_pcm_info_free(pcmInfo);
        snd_ctl_card_info_free(cardInfo);
        snd_ctl_close(ctl);
    }
    return out;
}
#endif

}  // namespace

std::vector<AudioDevice> ParseProcAsoundPcm(const std::string& text) {
    std::vector<AudioDevice> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // "CC-DD: id : name : playback N : capture N"
        size_t colon = line.find(':');
        size_t dash = line.find('-');
        if (colon == std::string::npos || dash == std::string::npos || dash > colon) continue;
        std::string cardText = Trim(line.substr(0, dash));
        std::string deviceText = Trim(line.substr(dash + 1, colon - dash - 1));
        if (cardText.empty() || deviceText.empty() ||
            cardText.find_first_not_of("0123456789") != std::string::npos ||
            deviceText.find_first_not_of("0123456789") != std::string::npos)
            continue;
        AudioDevice d;
        d.path = "hw:" + std::to_string(std::atoi(cardText.c_str())) + "," + std::to_string(std::atoi(deviceText.c_str()));
        std::vector<std::string> fields;
        std::istringstream rest(line.substr(colon + 1));
        std::string field;
        while (std::getline(rest, field, ':')) fields.push_back(Trim(field));
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i == 1) d.name = fields[i];
            if (fields[i].rfind("playback", 0) == 0) d.playback = true;
            if (fields[i].rfind("capture", 0) == 0) d.capture = true;
        }
        if (d.name.empty() && !fields.empty()) d.name = fields[0];
        if (d.playback || d.capture) out.push_back(d);
    }
    return out;
}

std::vector<AudioDevice> EnumerateAudioDevices() {
#if QM_NIM_HAVE_ALSA
    std::vector<AudioDevice> devices = FromAlsa();
    if (!devices.empty()) return devices;
#endif
    return FromProcFile();
}

}  // namespace qmnim
