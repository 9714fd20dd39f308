// Benchmark figures for the summary table: when QM_BENCH_FIGURES names a file,
// each figure is appended to it as one "key value" line (scripts/bench.sh
// collects them); the benchmark's own printout is unchanged.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qmbench {

inline void Figure(const char* key, double value) {
    const char* path = std::getenv("QM_BENCH_FIGURES");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.6g\n", key, value);
        std::fclose(f);
    }
}

// Standard output of a helper program (the bare-engine twins print "key=value").
inline std::string RunCapture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

// The number after "key=" in such output, or -1 when it is missing.
inline double Field(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

}  // namespace qmbench
