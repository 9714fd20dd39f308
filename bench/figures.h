// Benchmark figures for the summary table: when QM_BENCH_FIGURES names a file,
// each figure is appended to it as one line (scripts/bench.sh collects them);
// the benchmark's own printout is unchanged.
//   "key value"                     a single figure
//   "key median min max n"          a figure from n samples
// A figure of the client next to the bare program comes from interleaved
// pairs; its ratio is the median of the per-pair ratios, written under
// "ratio:<client key>".
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qmbench {

// A run's size from the environment (QM_BENCH_PAIRS, QM_BENCH_ROUNDS): at
// least 1, `fallback` when it is not set.
inline int CountFromEnv(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value ? std::max(1, std::atoi(value)) : fallback;
}

struct Summary {
    double median = 0, min = 0, max = 0;
    size_t n = 0;
};

// Median (the mean of the middle two for an even count), min and max of the valid
// samples (a negative sample marks a failed measurement and is left out).
inline Summary Summarise(std::vector<double> samples) {
    samples.erase(std::remove_if(samples.begin(), samples.end(), [](double v) { return !(v >= 0); }),
                  samples.end());
    Summary s;
    s.n = samples.size();
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    size_t mid = samples.size() / 2;
    s.median = samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

// "median (min–max, n=N)" for printouts.
inline std::string Describe(const Summary& s, const char* format = "%.3f") {
    char m[32], lo[32], hi[32], out[128];
    std::snprintf(m, sizeof m, format, s.median);
    std::snprintf(lo, sizeof lo, format, s.min);
    std::snprintf(hi, sizeof hi, format, s.max);
    std::snprintf(out, sizeof out, "%s (%s-%s, n=%zu)", m, lo, hi, s.n);
    return out;
}

inline void AppendLine(const std::string& line) {
    const char* path = std::getenv("QM_BENCH_FIGURES");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

inline void Figure(const char* key, double value) {
    char line[256];
    std::snprintf(line, sizeof line, "%s %.6g", key, value);
    AppendLine(line);
}

inline void Figure(const std::string& key, const Summary& s) {
    if (s.n == 0) return;
    char line[256];
    std::snprintf(line, sizeof line, "%s %.6g %.6g %.6g %zu", key.c_str(), s.median, s.min, s.max, s.n);
    AppendLine(line);
}

// Samples of one figure; false when none of them is valid.
inline bool Samples(const char* key, const std::vector<double>& samples) {
    Summary s = Summarise(samples);
    Figure(key, s);
    return s.n > 0;
}

// Interleaved pairs: client[i] and bare[i] were measured one after the other.
// Writes both figures and the ratio; false when no pair is complete.
inline bool Pairs(const char* clientKey, const char* bareKey, const std::vector<double>& client,
                  const std::vector<double>& bare) {
    std::vector<double> ratios;
    for (size_t i = 0; i < client.size() && i < bare.size(); ++i)
        if (client[i] >= 0 && bare[i] > 0) ratios.push_back(client[i] / bare[i]);
    Figure(clientKey, Summarise(client));
    Figure(bareKey, Summarise(bare));
    Figure(std::string("ratio:") + clientKey, Summarise(ratios));
    return !ratios.empty();
}

// Prints one paired figure: both medians with their spread and the ratio.
inline void PrintPairs(const char* what, const std::vector<double>& client, const std::vector<double>& bare,
                       const char* format = "%.3f") {
    std::vector<double> ratios;
    for (size_t i = 0; i < client.size() && i < bare.size(); ++i)
        if (client[i] >= 0 && bare[i] > 0) ratios.push_back(client[i] / bare[i]);
    std::printf("%s: client %s   bare %s   ratio %s\n", what, Describe(Summarise(client), format).c_str(),
                Describe(Summarise(bare), format).c_str(), Describe(Summarise(ratios), "%.2f").c_str());
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
