// The engine's command-line preparation: the switches the browser host adds
// to every process, built as an ordered list and mapped onto WebKit settings.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kxcef {

// The switches in order, each "name" or "name=value" (names unchanged).
std::vector<std::string> PrepareCommandLine(const std::map<std::string, std::string>& extraSwitches);

// What the prepared switches mean for WebKit.
struct EngineSwitches {
    bool noProxy = false;
    bool mediaStream = false;
    bool disableGpu = false;
    // Hosts whose certificate is accepted despite TLS errors: host → SHA-256
    // fingerprint (hex) or "any". "--ignore-certificate-errors" stays in the
    // prepared line but means nothing here: ignoring every error would hand
    // the bridge to whoever answers for the front-end's host.
    std::map<std::string, std::string> certificateExceptions;
    // Schemes besides http, https and mailto that pages may have the desktop open.
    std::vector<std::string> launchSchemes;
};
EngineSwitches InterpretCommandLine(const std::vector<std::string>& commandLine);

}  // namespace kxcef
