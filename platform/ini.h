// Windows-style INI sections ("GetPrivateProfileSectionW" semantics): section
// names match case-insensitively, a section body is a list of lines (lines
// without '=' are allowed). New files are written in the ANSI code page; files
// with a UTF-16LE or UTF-8 byte-order mark are read too.
#pragma once

#include <string>
#include <vector>

#include "platform/paths.h"

namespace platform {

// Lines of `section` in file `path`, in order, without comments and blank lines.
// Empty when the file or the section is missing or unreadable, or when the file
// is larger than kMaxConfigFileBytes (`status` tells which).
std::vector<std::wstring> ReadIniSection(const std::wstring& path, const std::wstring& section,
                                         ReadStatus* status = nullptr);

// Replaces the whole body of `section` with `lines` (creating file and section as
// needed), keeping the rest of the file (unless it is too large to read). The
// file is readable by this user only. False when it cannot be written.
bool WriteIniSection(const std::wstring& path, const std::wstring& section,
                     const std::vector<std::wstring>& lines);

// Value of `key` in `section` (first occurrence; keys match case-insensitively,
// blanks around key and value trimmed); empty when absent.
std::wstring ReadIniValue(const std::wstring& path, const std::wstring& section,
                          const std::wstring& key);

// The same readers over text already in memory (for parsers and fuzzing).
std::vector<std::wstring> ParseIniSection(const std::string& fileBytes, const std::wstring& section);

}  // namespace platform
