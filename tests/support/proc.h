// Processes as /proc shows them: the table of every process, the processes
// below one, and the "Key: N kB" figures of their status files.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace qmtest {

struct ProcStat {
    int pid = 0, ppid = 0;
    std::string name;         // the command name, up to 15 bytes
    char state = '?';         // 'Z' for a zombie
    long long cpuTicks = 0;   // user + system
};

// One process's /proc/PID/stat; false when it is gone.
inline bool ReadProcStat(int pid, ProcStat& out) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 > stat.size()) return false;
    out.pid = pid;
    out.name = stat.substr(open + 1, close - open - 1);
    // After the name: state, ppid, … utime (12th), stime (13th).
    std::istringstream rest(stat.substr(close + 2));
    std::vector<std::string> f;
    for (std::string field; f.size() < 13 && rest >> field;) f.push_back(field);
    if (f.size() < 13) return false;
    out.state = f[0][0];
    out.ppid = std::atoi(f[1].c_str());
    out.cpuTicks = std::atoll(f[11].c_str()) + std::atoll(f[12].c_str());
    return true;
}

inline std::vector<ProcStat> ProcessTable() {
    std::vector<ProcStat> out;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            int pid = std::atoi(e->d_name);
            ProcStat p;
            if (pid > 0 && ReadProcStat(pid, p)) out.push_back(p);
        }
        closedir(proc);
    }
    return out;
}

// Every process below `root` (not `root` itself), parents before children.
inline std::vector<int> Descendants(int root, const std::vector<ProcStat>& table = ProcessTable()) {
    std::vector<int> out{root};
    for (size_t i = 0; i < out.size(); ++i)
        for (const ProcStat& p : table)
            if (p.ppid == out[i]) out.push_back(p.pid);
    out.erase(out.begin());
    return out;
}

// The number after `key` in /proc/`pid`/`file` ("self" for this process), 0 when missing.
inline long ReadProcKb(const std::string& pid, const char* file, const char* key) {
    std::ifstream in("/proc/" + pid + "/" + file);
    std::string line, k = key;
    while (std::getline(in, line))
        if (line.rfind(k, 0) == 0) return std::atol(line.c_str() + k.size());
    return 0;
}
inline long ReadProcKb(int pid, const char* file, const char* key) {
    return ReadProcKb(std::to_string(pid), file, key);
}

}  // namespace qmtest
