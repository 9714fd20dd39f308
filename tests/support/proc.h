// Processes as /proc shows them: the table of every process, the processes
// below one, and the "Key: N kB" figures of their status files. Processes come
// and go while they are read: every reader here reports "gone" and never
// throws (a stream over /proc would: the read of an exiting process's file
// fails, and the stream buffer turns that into an exception).
#pragma once

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qmtest {

struct ProcStat {
    int pid = 0, ppid = 0;
    std::string name;         // the command name, up to 15 bytes
    char state = '?';         // 'Z' for a zombie
    long long cpuTicks = 0;   // user + system
};

// The whole of a small file (up to `limit` bytes); false when it cannot be
// opened or read (a process that ended meanwhile).
inline bool ReadProcFile(const std::string& path, std::string& out, size_t limit = 1 << 20) noexcept {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    char buf[4096];
    while (out.size() < limit) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

// Parses the text of a /proc/PID/stat file.
inline bool ParseProcStat(int pid, const std::string& stat, ProcStat& out) noexcept {
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 > stat.size())
        return false;
    // After the name: state, ppid, … utime (12th), stime (13th).
    const char* fields[13];
    size_t count = 0;
    const char* p = stat.c_str() + close + 1;
    while (count < 13) {
        while (*p == ' ') ++p;
        if (!*p || *p == '\n') break;
        fields[count++] = p;
        while (*p && *p != ' ' && *p != '\n') ++p;
    }
    if (count < 13) return false;
    out.pid = pid;
    out.name = stat.substr(open + 1, close - open - 1);
    out.state = fields[0][0];
    out.ppid = std::atoi(fields[1]);
    out.cpuTicks = std::atoll(fields[11]) + std::atoll(fields[12]);
    return true;
}

// One process's /proc/PID/stat; false when it is gone.
inline bool ReadProcStat(int pid, ProcStat& out) noexcept {
    std::string stat;
    return ReadProcFile("/proc/" + std::to_string(pid) + "/stat", stat) && ParseProcStat(pid, stat, out);
}

inline std::vector<ProcStat> ProcessTable() noexcept {
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

// Children of `parent` whose command name starts with `comm` (e.g. "WebKitWebProces").
inline std::vector<int> ChildrenNamed(int parent, const std::string& comm) {
    std::vector<int> out;
    for (const ProcStat& p : ProcessTable())
        if (p.ppid == parent && p.name.rfind(comm, 0) == 0) out.push_back(p.pid);
    return out;
}

// The number after `key` in /proc/`pid`/`file` ("self" for this process), 0 when missing.
inline long ReadProcKb(const std::string& pid, const char* file, const char* key) noexcept {
    std::string text;
    if (!ReadProcFile("/proc/" + pid + "/" + file, text)) return 0;
    size_t keyLength = std::strlen(key);
    for (size_t line = 0; line < text.size();) {
        if (text.compare(line, keyLength, key) == 0) return std::atol(text.c_str() + line + keyLength);
        size_t next = text.find('\n', line);
        if (next == std::string::npos) break;
        line = next + 1;
    }
    return 0;
}
inline long ReadProcKb(int pid, const char* file, const char* key) noexcept {
    return ReadProcKb(std::to_string(pid), file, key);
}

}  // namespace qmtest
