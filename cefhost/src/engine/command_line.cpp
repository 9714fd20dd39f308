#include "engine/command_line.h"

#include <algorithm>
#include <cstdint>

#include "kxcef/cef3_manager.h"
#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace kxcef {
namespace {

const wchar_t kGpuKey[] = L"SOFTWARE\\Mervane Network\\Tessaly";
const wchar_t kGpuValue[] = L"DisableGPU";

// Only an existing key counts; a missing value reads as 0. There is no
// operating-system version rule here.
bool GpuDisabledByRegistry() {
    platform::RegistryKey key;
    if (!key.Open(kGpuKey)) return false;
    std::uint32_t value = 0;
    if (!key.QueryDword(kGpuValue, value)) value = 0;
    return value != 0;
}

std::string StripDashes(const std::string& name) {
    size_t i = 0;
    while (i < name.size() && name[i] == '-') ++i;
    return name.substr(i);
}

// "host=value,host=value"; entries without a host or a value are left out.
void ReadCertificateExceptions(const std::string& list, std::map<std::string, std::string>& out) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(start, end - start);
        size_t eq = item.find('=');
        if (eq != std::string::npos && eq > 0 && eq + 1 < item.size()) out[item.substr(0, eq)] = item.substr(eq + 1);
        start = end + 1;
    }
}

void ReadLaunchSchemes(const std::string& value, std::vector<std::string>& out) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        std::string scheme = platform::ToLowerAscii(value.substr(start, end - start));
        if (!scheme.empty() && std::find(out.begin(), out.end(), scheme) == out.end()) out.push_back(scheme);
        start = end + 1;
    }
}

}  // namespace

std::vector<std::string> PrepareCommandLine(const std::map<std::string, std::string>& extraSwitches) {
    std::vector<std::string> line;
    line.push_back("--no-proxy-server");
    line.push_back("enable-media-stream=1");
    if (GpuDisabledByRegistry()) {
        line.push_back("disable-gpu");
        line.push_back("disable-gpu-compositing");
        platform::OutputDebugStringA("Disable GPU\xA1\xA1" "Accelerate.");
    }
    for (const auto& entry : extraSwitches) line.push_back(entry.first + "=" + entry.second);
    line.push_back("--expose-gc");
    line.push_back("--disable-extensions");
    line.push_back("ppapi-flash-path=PepperFlash\\pepflashplayer.dll");
    line.push_back("ppapi-flash-version=20.0.0.306");
    line.push_back("--ignore-certificate-errors");
    return line;
}

EngineSwitches InterpretCommandLine(const std::vector<std::string>& commandLine) {
    EngineSwitches s;
    for (const std::string& item : commandLine) {
        std::string name = StripDashes(item.substr(0, item.find('=')));
        std::string value = item.find('=') == std::string::npos ? std::string() : item.substr(item.find('=') + 1);
        if (name == "no-proxy-server") s.noProxy = true;
        else if (name == "enable-media-stream") s.mediaStream = value != "0";
        else if (name == "disable-gpu" || name == "disable-gpu-compositing") s.disableGpu = true;
        else if (name == kCertificateExceptionsSwitch) ReadCertificateExceptions(value, s.certificateExceptions);
        else if (name == kLaunchSchemesSwitch) ReadLaunchSchemes(value, s.launchSchemes);
    }
    return s;
}

}  // namespace kxcef
