// The statistics host an administrator writes in deploy.ini, turned into the
// address the launch report (with the machine identity) is sent to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/client_config.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeployConfig config;
    config.statisticsHost = platform::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
    std::string endpoint = config.StatisticsEndpoint();
    if (endpoint.empty()) return 0;
    const std::string tail = "/opt=put";
    if (endpoint.size() < tail.size() || endpoint.compare(endpoint.size() - tail.size(), tail.size(), tail) != 0)
        std::abort();
    // Over TLS: exactly a host and a port before the report's path, so the
    // identity cannot be sent elsewhere through user information or a path.
    const std::string tls = "https://";
    if (endpoint.compare(0, tls.size(), tls) == 0) {
        std::string host = endpoint.substr(tls.size(), endpoint.size() - tls.size() - tail.size());
        if (host.empty() || host.find_first_of("/?#@\\ \t\r\n") != std::string::npos) std::abort();
    } else if (endpoint.compare(0, 7, "http://") != 0) {
        std::abort();
    }
    return 0;
}
