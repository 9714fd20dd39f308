// qm_update: the stand-in for the updater that ships beside the client. The
// launcher starts it at every primary start and never waits for it; it
// records that it ran and exits. The line goes to standard error and, when
// the environment names one in QM_UPDATE_MARKER, is appended to that file.
// QM_UPDATE_STAY_MS keeps it running that long afterwards (for tests that look
// at what it inherited).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"

int main(int argc, char** argv) {
    std::error_code error;
    std::string line = "qm_update started pid=" + std::to_string(platform::CurrentProcessId()) +
                       " cwd=" + std::filesystem::current_path(error).string() +
                       " args=" + std::to_string(argc - 1);
    for (int i = 1; i < argc; ++i) line += std::string(" [") + argv[i] + "]";
    line += "\n";

    std::fputs(line.c_str(), stderr);
    if (const char* marker = std::getenv("QM_UPDATE_MARKER"); marker && *marker) {
        std::ofstream out(marker, std::ios::app | std::ios::binary);
        out << line;  // one short write: lines of concurrent starts do not mix
        if (!out) return 1;
    }
    if (const char* stay = std::getenv("QM_UPDATE_STAY_MS"); stay && *stay)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(stay)));
    return 0;
}
