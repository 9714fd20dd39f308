#include "tests/crash/dump_checks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "tests/crash/minidump_reader.h"
#include "tests/support/process.h"

namespace qmtest {
namespace {

// The local date and time as a dump's name carries it ("20261208_14_05_09").
std::string DumpStamp(time_t t) {
    struct tm local{};
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%d_%H_%M_%S", &local);
    return text;
}

}  // namespace

std::string SingleDumpIn(const std::string& dumpDir, const std::string& namePrefix, time_t before, time_t after) {
    std::vector<std::string> files = ListDir(dumpDir);
    EXPECT_EQ(files.size(), 1u) << "files in Dump: " << ::testing::PrintToString(files);
    if (files.size() != 1) return "";
    std::set<std::string> allowed;
    for (time_t t = before; t <= after; ++t) allowed.insert(namePrefix + "_" + DumpStamp(t) + ".dmp");
    EXPECT_TRUE(allowed.count(files[0])) << files[0] << " is not one of " << ::testing::PrintToString(allowed);
    return dumpDir + "/" + files[0];
}

bool LoadDumpFile(const std::string& path, Minidump& dump) {
    if (!dump.Parse(ReadFile(path))) {
        ADD_FAILURE() << path << ": " << dump.error();
        return false;
    }
    return true;
}

bool LoadSingleDump(const std::string& dumpDir, const std::string& namePrefix, time_t before, time_t after,
                    Minidump& dump, std::string* path) {
    std::string file = SingleDumpIn(dumpDir, namePrefix, before, after);
    if (path) *path = file;
    return !file.empty() && LoadDumpFile(file, dump);
}

bool HaveLldb() { return access("/usr/bin/lldb", X_OK) == 0; }

std::string Lldb(const std::string& dump, const std::string& exe, const std::vector<std::string>& commands) {
    std::vector<std::string> argv{"/usr/bin/lldb", "--batch", "-x", "-c", dump, exe};
    for (const auto& c : commands) {
        argv.push_back("-o");
        argv.push_back(c);
    }
    std::string output;
    int code = RunProcess(argv, std::chrono::seconds(120), {}, &output);
    EXPECT_EQ(code, 0) << output;
    return output;
}

}  // namespace qmtest
