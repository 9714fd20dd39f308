#include "platform/system_info.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace platform {
namespace {

LocalTime FromEpoch(time_t secs, int ms) {
    struct tm tmv{};
    localtime_r(&secs, &tmv);
    LocalTime t;
    t.year = tmv.tm_year + 1900;
    t.month = tmv.tm_mon + 1;
    t.day = tmv.tm_mday;
    t.hour = tmv.tm_hour;
    t.minute = tmv.tm_min;
    t.second = tmv.tm_sec;
    t.millisecond = ms;
    return t;
}

bool ReadText(const char* path, std::string& out) {
    out.clear();
    FILE* f = std::fopen(path, "rbe");
    if (!f) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return !out.empty();
}

}  // namespace

LocalTime Now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return FromEpoch(tv.tv_sec, static_cast<int>(tv.tv_usec / 1000));
}

bool HostName(std::string& name) {
    char buf[100] = {};
    if (gethostname(buf, sizeof(buf) - 1) != 0) return false;
    name = buf;
    return !name.empty();
}

bool BootTime(LocalTime& when) {
    // Boot time (seconds) from /proc/stat, plus the start of process 1 in clock ticks.
    std::string stat, initStat;
    if (!ReadText("/proc/stat", stat) || !ReadText("/proc/1/stat", initStat)) return false;
    const char* bt = std::strstr(stat.c_str(), "\nbtime ");
    if (!bt) return false;
    long long btime = std::atoll(bt + 7);
    size_t close = initStat.rfind(')');
    if (close == std::string::npos) return false;
    // Fields after "(comm)": state is field 3; starttime is field 22.
    const char* p = initStat.c_str() + close + 1;
    unsigned long long starttime = 0;
    int field = 2;
    char* end = nullptr;
    while (*p && field < 22) {
        while (*p == ' ') ++p;
        ++field;
        if (field == 22) {
            starttime = std::strtoull(p, &end, 10);
            break;
        }
        while (*p && *p != ' ') ++p;
    }
    if (field != 22) return false;
    long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0) ticks = 100;
    long long ms = btime * 1000 + static_cast<long long>(starttime) * 1000 / ticks;
    when = FromEpoch(static_cast<time_t>(ms / 1000), static_cast<int>(ms % 1000));
    return true;
}

bool KernelBootId(std::string& id) {
    std::string text;
    if (!ReadText("/proc/sys/kernel/random/boot_id", text)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty() || text.size() > 64) return false;
    id = text;
    return true;
}

void SetEnv(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

std::string GetEnv(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? v : std::string();
}

}  // namespace platform
