// Memory and CPU of a process and all its descendants, from /proc.
#pragma once

#include <string>
#include <vector>

namespace qmbench {

struct TreeUsage {
    long rssKb = 0;
    long pssKb = 0;
    long long cpuTicks = 0;  // user + system, clock ticks
    std::vector<std::string> names;
};

TreeUsage MeasureTree(int rootPid);
long TicksPerSecond();

}  // namespace qmbench
