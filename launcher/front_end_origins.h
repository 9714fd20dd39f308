// Which pages may call page commands: the start address given by the `url` or
// `url2` switch and every front-end host of the deployment file.
#pragma once

#include <string>
#include <vector>

#include "common/client_config.h"
#include "common/cmdline_parser.h"
#include "kxcef/origin.h"

// The distinct origins of the start address (when a switch gives it) and of
// "https://<host>/" for each front-end host of `deploy`, in that order; after
// each http origin its upgrade to https (same host, same port, or the default
// port for the default port).
std::vector<std::string> FrontEndOrigins(const CCmdLineParser& switches, const DeployConfig& deploy);
