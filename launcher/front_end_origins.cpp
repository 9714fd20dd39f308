#include "launcher/front_end_origins.h"

#include <algorithm>

#include "common/start_address.h"
#include "platform/text.h"

std::vector<std::string> FrontEndOrigins(const CCmdLineParser& switches, const DeployConfig& deploy) {
    std::vector<std::string> origins;
    auto add = [&origins](const std::string& origin) {
        if (origin.empty()) return;
        if (std::find(origins.begin(), origins.end(), origin) == origins.end()) origins.push_back(origin);
        // A front-end served over http may upgrade itself to https on the same
        // host and port (or from the default port to the default port):
        // whoever holds a verified certificate for the host is that front-end.
        static const std::string kHttp = "http://";
        if (origin.compare(0, kHttp.size(), kHttp) == 0) {
            std::string upgraded = OriginOfAddress("https://" + origin.substr(kHttp.size()) + "/");
            if (!upgraded.empty() && std::find(origins.begin(), origins.end(), upgraded) == origins.end())
                origins.push_back(upgraded);
        }
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
