#include "bench/client/process_tree.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace qmbench {
namespace {

struct Proc {
    int ppid = 0;
    std::string name;
    long long ticks = 0;
};

std::map<int, Proc> AllProcesses() {
    std::map<int, Proc> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        Proc p;
        p.name = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        std::vector<std::string> f;
        while (rest >> field) f.push_back(field);
        if (f.size() < 13) continue;
        p.ppid = std::atoi(f[1].c_str());
        p.ticks = std::atoll(f[11].c_str()) + std::atoll(f[12].c_str());
        out[pid] = p;
    }
    closedir(d);
    return out;
}

long ReadKb(int pid, const char* file, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
    return 0;
}

}  // namespace

TreeUsage MeasureTree(int rootPid) {
    auto all = AllProcesses();
    TreeUsage u;
    for (const auto& [pid, p] : all) {
        bool inTree = false;
        for (int cur = pid, hops = 0; cur > 0 && hops < 64; ++hops) {
            if (cur == rootPid) {
                inTree = true;
                break;
            }
            auto it = all.find(cur);
            if (it == all.end()) break;
            cur = it->second.ppid;
        }
        if (!inTree) continue;  // sandbox helpers in the tree count: they are the engine's cost too
        u.rssKb += ReadKb(pid, "status", "VmRSS:");
        u.pssKb += ReadKb(pid, "smaps_rollup", "Pss:");
        u.cpuTicks += p.ticks;
        u.names.push_back(p.name);
    }
    return u;
}

long TicksPerSecond() { return sysconf(_SC_CLK_TCK); }

}  // namespace qmbench
