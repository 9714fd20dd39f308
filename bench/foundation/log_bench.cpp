// Log records per second into the daily file (one write and flush per entry),
// from 1 and from 4 threads.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/figures.h"
#include "common/log_record.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

double RecordsPerSecond(int threads, int perThread) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t, perThread] {
            for (int i = 0; i < perThread; ++i)
                QM_LOG("LogBench") << "<bench> thread " << t << " record " << i << " of a typical length";
        });
    for (auto& th : pool) th.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return threads * perThread / secs;
}

}  // namespace

int main() {
    char templ[] = "/tmp/qm_log_bench.XXXXXX";
    if (!mkdtemp(templ)) return 1;
    qmlog::SetExecutablePathForTesting(platform::Utf8ToWide(std::string(templ) + "/qm_main"));
    RecordsPerSecond(1, 2000);  // warm-up: creates the folder and the file
    double one = RecordsPerSecond(1, 200000), four = RecordsPerSecond(4, 50000);
    std::printf("log records/s, 1 thread : %.0f\n", one);
    std::printf("log records/s, 4 threads: %.0f\n", four);
    qmbench::Figure("log_records_per_s_1", one);
    qmbench::Figure("log_records_per_s_4", four);
    std::string cmd = std::string("rm -rf ") + templ;
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
