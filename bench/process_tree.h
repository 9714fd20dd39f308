// Memory and CPU of a process and every process below it (the engine's web
// and network processes, their sandbox helpers), from /proc.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace qmbench {

struct ProcessUsage {
    int pid = 0;
    std::string name;
    long rssKb = 0;
    long pssKb = 0;
    long long cpuTicks = 0;  // user + system
};

struct TreeUsage {
    long rssKb = 0;
    long pssKb = 0;
    long long cpuTicks = 0;
    std::vector<ProcessUsage> processes;

    double CpuMs() const { return static_cast<double>(cpuTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)); }
    // "name rssMB, name rssMB, …" for printouts.
    std::string Breakdown() const {
        std::string out;
        for (const auto& p : processes) {
            if (!out.empty()) out += ", ";
            out += p.name + " " + std::to_string(p.rssKb / 1024);
        }
        return out;
    }
};

inline long ReadProcKb(int pid, const char* file, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line, k = key;
    while (std::getline(in, line))
        if (line.rfind(k, 0) == 0) return std::atol(line.c_str() + k.size());
    return 0;
}

inline TreeUsage MeasureTree(int root) {
    std::map<int, ProcessUsage> all;
    std::map<int, int> parent;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            int pid = std::atoi(e->d_name);
            if (pid <= 0) continue;
            std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
            std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            size_t open = stat.find('('), close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos || close + 2 > stat.size()) continue;
            ProcessUsage p;
            p.pid = pid;
            p.name = stat.substr(open + 1, close - open - 1);
            // After the name: state, ppid, … utime (12th), stime (13th).
            std::istringstream rest(stat.substr(close + 2));
            std::vector<std::string> f;
            for (std::string field; f.size() < 13 && rest >> field;) f.push_back(field);
            if (f.size() < 13) continue;
            parent[pid] = std::atoi(f[1].c_str());
            p.cpuTicks = std::atoll(f[11].c_str()) + std::atoll(f[12].c_str());
            all[pid] = p;
        }
        closedir(proc);
    }
    std::set<int> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, ppid] : parent)
            if (tree.count(ppid) && !tree.count(pid)) grew = tree.insert(pid).second || grew;
    }
    TreeUsage u;
    for (int pid : tree) {
        auto it = all.find(pid);
        if (it == all.end()) continue;
        ProcessUsage p = it->second;
        p.rssKb = ReadProcKb(pid, "status", "VmRSS:");
        p.pssKb = ReadProcKb(pid, "smaps_rollup", "Pss:");
        u.rssKb += p.rssKb;
        u.pssKb += p.pssKb;
        u.cpuTicks += p.cpuTicks;
        u.processes.push_back(p);
    }
    return u;
}

}  // namespace qmbench
