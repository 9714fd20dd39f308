#include "outside/qm_nim/audio/processing/processing_settings.h"

#include <cctype>

namespace qmnim::audio {

bool SwitchIsOn(const std::string& value) {
    std::string v;
    for (char c : value) {
        if (!std::isspace(static_cast<unsigned char>(c))) v += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return !(v == "off" || v == "no" || v == "false" || v == "0");
}

}  // namespace qmnim::audio
