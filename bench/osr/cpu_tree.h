// CPU time used so far by a process and every process below it (the engine's
// web and network processes), from /proc.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace osrbench {

inline double TreeCpuMs(int root) {
    std::map<int, int> parent;
    std::map<int, double> cpu;
    const double tick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (dirent* e = readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        // Fields after the name: state(3) ppid(4) ... utime(14) stime(15).
        long values[13] = {};
        rest >> field;  // state
        for (long& v : values) rest >> v;
        parent[pid] = static_cast<int>(values[0]);
        cpu[pid] = static_cast<double>(values[10] + values[11]) * tick;
    }
    closedir(proc);
    std::set<int> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& p : parent)
            if (tree.count(p.second) && !tree.count(p.first)) tree.insert(p.first), grew = true;
    }
    double total = 0;
    for (int pid : tree) total += cpu[pid];
    return total;
}

// The animated page: a 1280 x 720 canvas repainted whole on every frame.
inline const char* CanvasPage() {
    return R"(<!doctype html><html><body style="margin:0;overflow:hidden;background:#000">
<canvas id="c" width="1280" height="720"></canvas>
<script>
var c = document.getElementById('c').getContext('2d'), n = 0;
function frame() {
  n++;
  c.fillStyle = 'hsl(' + (n * 7 % 360) + ',70%,45%)';
  c.fillRect(0, 0, 1280, 720);
  c.fillStyle = '#fff';
  for (var i = 0; i < 40; i++) c.fillRect((n * 9 + i * 31) % 1280, (i * 18 + n * 3) % 720, 24, 24);
  requestAnimationFrame(frame);
}
requestAnimationFrame(frame);
</script></body></html>)";
}

}  // namespace osrbench
