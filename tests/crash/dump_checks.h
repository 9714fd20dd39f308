// Checks the crash tests share: the one dump a crash leaves, and its
// backtrace as lldb (from Debian's packages) prints it.
#pragma once

#include <time.h>

#include <string>
#include <vector>

namespace qmtest {

// The one dump in `dumpDir`, its name checked against `namePrefix`_<local time
// between before and after>.dmp (failures recorded); empty when there is not
// exactly one.
std::string SingleDumpIn(const std::string& dumpDir, const std::string& namePrefix, time_t before, time_t after);

class Minidump;
// The dump in the file `path` read into `dump`; false, with the failure recorded, when it does not parse.
bool LoadDumpFile(const std::string& path, Minidump& dump);
// That dump read into `dump` (its file in `path` when given); false, with the
// failure recorded, when there is not exactly one or it does not parse.
bool LoadSingleDump(const std::string& dumpDir, const std::string& namePrefix, time_t before, time_t after,
                    Minidump& dump, std::string* path = nullptr);

bool HaveLldb();
// lldb's output for `commands` on the dump with `exe` as its program (a
// failure is recorded when lldb does not end with 0).
std::string Lldb(const std::string& dump, const std::string& exe, const std::vector<std::string>& commands);

}  // namespace qmtest
