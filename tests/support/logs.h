// Reading the client's daily logs back in tests: UTF-16LE files with a BOM in LOG/.
#pragma once

#include <string>

namespace qmtest {

// The text of one log file's bytes (the BOM skipped); an odd last byte is dropped.
std::wstring DecodeLogFile(const std::string& bytes);
// Every log file in `installDir`/LOG, in name order, as one UTF-8 text.
std::string DailyLogs(const std::string& installDir);

}  // namespace qmtest
