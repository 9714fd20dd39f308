// Benchmark figures for the summary table: when QM_BENCH_FIGURES names a file,
// each figure is appended to it as one "key value" line (scripts/bench.sh
// collects them); the benchmark's own printout is unchanged.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace qmbench {

inline void Figure(const char* key, double value) {
    const char* path = std::getenv("QM_BENCH_FIGURES");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.6g\n", key, value);
        std::fclose(f);
    }
}

}  // namespace qmbench
