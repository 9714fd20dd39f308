// Memory and CPU of a process and every process below it (the engine's web
// and network processes, their sandbox helpers), from /proc.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/proc.h"

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
    // "name rssMB/pssMB, …" for printouts.
    std::string Breakdown() const {
        std::string out;
        for (const auto& p : processes) {
            if (!out.empty()) out += ", ";
            out += p.name + " " + std::to_string(p.rssKb / 1024) + "/" + std::to_string(p.pssKb / 1024);
        }
        return out;
    }
};

using qmtest::ReadProcKb;

inline TreeUsage MeasureTree(int root) {
    std::vector<qmtest::ProcStat> table = qmtest::ProcessTable();
    std::vector<int> tree{root};
    for (int pid : qmtest::Descendants(root, table)) tree.push_back(pid);
    TreeUsage u;
    for (int pid : tree) {
        const qmtest::ProcStat* stat = nullptr;
        for (const auto& p : table)
            if (p.pid == pid) stat = &p;
        if (!stat) continue;
        ProcessUsage p;
        p.pid = pid;
        p.name = stat->name;
        p.cpuTicks = stat->cpuTicks;
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
