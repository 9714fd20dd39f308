// The command line's own help: `qm_main --help` (or `-h`) prints how the
// program is called and ends, before anything of the client starts (no
// window, no single-instance guard, no file written).
#pragma once

#include <string>

// Whether one of the arguments (argv[1..]) asks for the help.
bool AsksForUsage(int argc, const char* const* argv);
// The help text for the program called as `program` (argv[0]).
std::string UsageText(const std::string& program);
