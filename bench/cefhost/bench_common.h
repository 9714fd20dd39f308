// Helpers shared by the browser host's benchmark programs: clocks, memory of
// a process tree, percentiles, pumping the main loop.
#pragma once

#include <dirent.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kxbench {

inline double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Resident memory (kB) of `root` and every process below it.
inline long TreeRssKb(int root) {
    std::map<int, int> parent;
    std::map<int, long> rss;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("PPid:", 0) == 0) parent[pid] = std::atoi(line.c_str() + 5);
            if (line.rfind("VmRSS:", 0) == 0) rss[pid] = std::atol(line.c_str() + 6);
        }
    }
    closedir(proc);
    std::set<int> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& p : parent)
            if (tree.count(p.second) && !tree.count(p.first)) tree.insert(p.first), grew = true;
    }
    long total = 0;
    for (int pid : tree) total += rss[pid];
    return total;
}

// Proportional set size (kB) of `root` and every process below it: shared
// library pages are divided among the processes that map them.
inline long TreePssKb(int root) {
    std::map<int, int> parent;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("PPid:", 0) == 0) parent[pid] = std::atoi(line.c_str() + 5);
    }
    closedir(proc);
    std::set<int> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& p : parent)
            if (tree.count(p.second) && !tree.count(p.first)) tree.insert(p.first), grew = true;
    }
    long total = 0;
    for (int pid : tree) {
        std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
        std::string line;
        while (std::getline(rollup, line))
            if (line.rfind("Pss:", 0) == 0) total += std::atol(line.c_str() + 4);
    }
    return total;
}

// "name rssMB" of each process of the tree, for the figures' breakdown.
inline std::string TreeBreakdown(int root) {
    std::map<int, int> parent;
    std::map<int, long> rss;
    std::map<int, std::string> name;
    DIR* proc = opendir("/proc");
    if (!proc) return {};
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0) name[pid] = line.substr(6);
            if (line.rfind("PPid:", 0) == 0) parent[pid] = std::atoi(line.c_str() + 5);
            if (line.rfind("VmRSS:", 0) == 0) rss[pid] = std::atol(line.c_str() + 6);
        }
    }
    closedir(proc);
    std::set<int> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& p : parent)
            if (tree.count(p.second) && !tree.count(p.first)) tree.insert(p.first), grew = true;
    }
    std::string out;
    for (int pid : tree) {
        if (!rss[pid]) continue;
        std::string n = name[pid];
        while (!n.empty() && (n.back() == '\t' || n.back() == ' ')) n.pop_back();
        out += (out.empty() ? "" : ", ") + n + " " + std::to_string(rss[pid] / 1024);
    }
    return out;
}

inline int ChildCount(int root) {
    int n = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("PPid:", 0) == 0 && std::atoi(line.c_str() + 5) == root) ++n;
    }
    closedir(proc);
    return n;
}

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline bool PumpUntil(const std::function<bool()>& done, double timeoutMs) {
    double deadline = NowMs() + timeoutMs;
    guint tick = g_timeout_add(2, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = done();
    while (!ok && NowMs() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = done();
    }
    g_source_remove(tick);
    return ok;
}

inline std::string WritePage(const std::string& dir, const std::string& name, const std::string& html) {
    std::string path = dir + "/" + name;
    std::ofstream(path) << html;
    return "file://" + path;
}

// The page of the round-trip figure: each reply triggers the next call.
inline std::string RoundTripPage(const std::string& call) {
    return "<html><body><script>var i=0;function JsHandleCallBack(t){next();}"
           "function next(){if(i++>2100){" + call + "('_done','');return;}" + call +
           "('_ping','{\"i\":'+i+'}');}"
           "setTimeout(next,300);</script></body></html>";
}

// The page of the synchronous-call figure.
inline std::string SyncPage(const std::string& call, const std::string& report) {
    return "<html><body><script>setTimeout(function(){var n=200000,t=performance.now();"
           "for(var k=0;k<n;k++)" + call + "('a','b');var ms=performance.now()-t;" + report +
           "('_sync',''+Math.round(n*1000/ms));},300);</script></body></html>";
}

}  // namespace kxbench
