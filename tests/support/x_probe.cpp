#include "tests/support/x_probe.h"

#include <cstdio>
#include <sstream>

#include "common/core_protocol.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace qmtest {
namespace {

std::string Run(const std::vector<std::string>& argv) {
    std::string out;
    RunProcess(argv, 10s, {}, &out);
    return out;
}

// Parses one `xwininfo -tree` line:
//   0x400007 "Rawen": ("RW_..." "RW_...")  1280x800+80+50  +80+50
bool ParseLine(const std::string& line, XWindowInfo& w) {
    size_t hex = line.find("0x");
    if (hex == std::string::npos) return false;
    size_t sp = line.find(' ', hex);
    if (sp == std::string::npos) return false;
    w.id = line.substr(hex, sp - hex);
    size_t q1 = line.find('"', sp);
    size_t colon = line.find("\": (", sp);
    if (q1 != std::string::npos && colon != std::string::npos && q1 < colon) w.title = line.substr(q1 + 1, colon - q1 - 1);
    size_t open = line.find(": (", sp);
    size_t close = open == std::string::npos ? std::string::npos : line.find(')', open);
    if (open != std::string::npos && close != std::string::npos) {
        std::string cls = line.substr(open + 3, close - open - 3);
        size_t a = cls.find('"'), b = cls.find('"', a + 1), c = cls.find('"', b + 1), d = cls.find('"', c + 1);
        if (d != std::string::npos) {
            w.resName = cls.substr(a + 1, b - a - 1);
            w.resClass = cls.substr(c + 1, d - c - 1);
        }
    }
    size_t geo = line.rfind(' ');
    if (geo == std::string::npos) return false;
    std::string abs = line.substr(geo + 1);  // "+80+50"
    size_t size = line.find_first_of("0123456789", close == std::string::npos ? sp : close);
    if (size != std::string::npos) std::sscanf(line.c_str() + size, "%dx%d", &w.width, &w.height);
    return std::sscanf(abs.c_str(), "%d%d", &w.x, &w.y) == 2;
}

}  // namespace

std::string ToolsDir() { return BinDir() + "/../tools"; }

std::vector<XWindowInfo> ListXWindows() {
    std::vector<XWindowInfo> out;
    std::istringstream lines(Run({"/usr/bin/xwininfo", "-root", "-tree"}));
    std::string line;
    while (std::getline(lines, line)) {
        XWindowInfo w;
        if (line.find("0x") != std::string::npos && ParseLine(line, w)) out.push_back(w);
    }
    return out;
}

std::optional<XWindowInfo> FindXWindow(const std::string& resClass, const std::string& title) {
    for (const auto& w : ListXWindows())
        if (w.resClass == resClass && w.title == title) return w;
    return std::nullopt;
}

std::optional<XWindowInfo> FindTrayIcon() {
    auto all = ListXWindows();
    for (const auto& panel : all) {
        if (panel.title != "panel" || panel.resClass != "trayer") continue;
        for (const auto& w : all) {
            bool inside = w.x >= panel.x && w.y >= panel.y && w.x < panel.x + panel.width &&
                          w.y < panel.y + panel.height;
            if (inside && w.resName == "qm_main" && w.width > 0 && w.width <= 64) return w;
        }
    }
    return std::nullopt;
}

bool IsViewable(const std::string& id) {
    return Run({"/usr/bin/xwininfo", "-id", id}).find("Map State: IsViewable") != std::string::npos;
}

std::optional<XWindowInfo> FindMainWindow(const std::string& brand) {
    const std::wstring cls = core_protocol::kMainWindowClass;
    return FindXWindow(std::string(cls.begin(), cls.end()), brand);  // ASCII
}

bool WaitMainWindowShown(int timeoutMs, const std::string& brand) {
    return WaitUntil([&] {
        auto main = FindMainWindow(brand);
        return main && main->width > 1 && IsViewable(main->id);
    }, std::chrono::milliseconds(timeoutMs));
}

bool Pixel(int x, int y, int rgb[3]) {
    std::string out = Run({ToolsDir() + "/qm_xshot", "--pixel", std::to_string(x), std::to_string(y)});
    return std::sscanf(out.c_str(), "%d %d %d", &rgb[0], &rgb[1], &rgb[2]) == 3;
}

bool XDo(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, 10s) == 0;
}

std::optional<XWindowInfo> DragMainWindow(int x, int y, int dx, int dy) {
    std::optional<XWindowInfo> before = FindMainWindow();
    if (!before) return std::nullopt;
    auto at = [](int v) { return std::to_string(v); };
    std::vector<std::string> drag{"mousemove", at(x), at(y), "mousedown", "1"};
    for (int step = 1; step <= 5; ++step)
        drag.insert(drag.end(), {"sleep", "0.05", "mousemove", at(x + dx * step / 5), at(y + dy * step / 5)});
    drag.insert(drag.end(), {"sleep", "0.1", "mouseup", "1"});
    if (!XDo(drag)) return std::nullopt;
    // It may move in steps: wait until it stands still where the drag ends for
    // a few looks in a row (an overshoot shows); where it is when that does
    // not come within 5 s (the caller says how far it got).
    std::optional<XWindowInfo> now;
    int still = 0;
    WaitUntil([&] {
        std::optional<XWindowInfo> next = FindMainWindow();
        bool there = next && next->x == before->x + dx && next->y == before->y + dy;
        still = there && now && next->x == now->x && next->y == now->y ? still + 1 : 0;
        now = next;
        return still >= 3;
    }, 5s);
    return now;
}

bool Screenshot(const std::string& pngPath) { return RunProcess({ToolsDir() + "/qm_xshot", pngPath}, 10s) == 0; }

std::optional<std::string> XClient(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ToolsDir() + "/qm_xclient"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (RunProcess(argv, 30s, {}, &out) != 0) return std::nullopt;
    return out;
}

}  // namespace qmtest
