#include "launcher/front_end_origins.h"

#include <algorithm>
#include <cctype>

#include "common/start_address.h"
#include "platform/text.h"

namespace {

bool IsSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

int DefaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    if (scheme == "ftp") return 21;
    return -1;
}

}  // namespace

std::string OriginOfAddress(const std::string& address) {
    size_t sep = address.find("://");
    if (sep == std::string::npos || sep == 0 || !std::isalpha(static_cast<unsigned char>(address[0])))
        return {};
    std::string scheme = platform::ToLowerAscii(address.substr(0, sep));
    if (!std::all_of(scheme.begin(), scheme.end(), IsSchemeChar)) return {};
    size_t start = sep + 3;
    size_t end = address.find_first_of("/?#\\", start);
    std::string authority = address.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);

    std::string host, port;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) return {};
        host = authority.substr(0, close + 1);
        std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return {};
            port = rest.substr(1);
        }
    } else {
        size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) port = authority.substr(colon + 1);
    }
    host = platform::ToLowerAscii(host);
    if (host.empty() || host == "[]") return {};
    for (char c : host)
        if (static_cast<unsigned char>(c) <= 0x20) return {};

    std::string origin = scheme + "://" + host;
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
        int value = std::stoi(port);
        if (value > 65535) return {};
        if (value != DefaultPort(scheme)) origin += ":" + std::to_string(value);
    }
    return origin;
}

std::vector<std::string> FrontEndOrigins(const CCmdLineParser& switches, const DeployConfig& deploy) {
    std::vector<std::string> origins;
    auto add = [&origins](const std::string& origin) {
        if (!origin.empty() && std::find(origins.begin(), origins.end(), origin) == origins.end())
            origins.push_back(origin);
    };
    // The address the core module opens, built by the same rules.
    StartAddress start = BuildStartAddress(switches, std::string(), ChannelInfo());
    if (start.fromSwitch) add(OriginOfAddress(platform::WideToUtf8(start.address)));
    for (const std::wstring* host : {&deploy.frontendDefault, &deploy.frontendS1, &deploy.frontendS1Test,
                                     &deploy.frontendS2, &deploy.frontendS2Test, &deploy.frontendT,
                                     &deploy.frontendTTest}) {
        if (!host->empty()) add(OriginOfAddress("https://" + platform::WideToUtf8(*host) + "/"));
    }
    return origins;
}
