// Helpers shared by the browser host's benchmark programs: clocks,
// percentiles, pumping the main loop, test pages.
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

#include "bench/process_tree.h"
#include "tests/support/main_loop.h"

namespace qmbench {

inline double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processes of the engine still running below `root`.
inline int ChildCount(int root) { return static_cast<int>(qmbench::MeasureTree(root).processes.size()) - 1; }

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline bool PumpUntil(const std::function<bool()>& done, double timeoutMs) {
    return qmtest::PumpMainLoopUntil(done, std::chrono::milliseconds(static_cast<long long>(timeoutMs)), 2);
}

inline std::string WritePage(const std::string& dir, const std::string& name, const std::string& html) {
    std::string path = dir + "/" + name;
    std::ofstream(path) << html;
    return "file://" + path;
}

}  // namespace qmbench
