// Which pages may call page commands: the start address given by the `url` or
// `url2` switch and every front-end host of the deployment file.
#pragma once

#include <string>
#include <vector>

#include "common/client_config.h"
#include "common/cmdline_parser.h"

// "scheme://host[:port]" of an address, written as the engine writes a frame's
// origin: scheme and host in lower case, IPv6 hosts in brackets, no user
// information, no default port. Empty when the address has no host or a bad port.
std::string OriginOfAddress(const std::string& utf8Address);

// The distinct origins of the start address (when a switch gives it) and of
// "https://<host>/" for each front-end host of `deploy`, in that order.
std::vector<std::string> FrontEndOrigins(const CCmdLineParser& switches, const DeployConfig& deploy);
