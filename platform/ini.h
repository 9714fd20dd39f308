// Windows-style INI sections ("GetPrivateProfileSectionW" semantics): section
// names match case-insensitively, a section body is a list of lines (lines
// without '=' are allowed). New files are written in the ANSI code page; files
// with a UTF-16LE or UTF-8 byte-order mark are read too.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Lines of `section` in file `path`, in order, without comments and blank lines.
// Empty when the file or the section is missing or unreadable.
std::vector<std::wstring> ReadIniSection(const std::wstring& path, const std::wstring& section);

// Replaces the whole body of `section` with `lines` (creating file and section as
// needed), keeping the rest of the file. False when the file cannot be written.
bool WriteIniSection(const std::wstring& path, const std::wstring& section,
                     const std::vector<std::wstring>& lines);

// Value of `key` in `section` (first occurrence; keys match case-insensitively,
// blanks around key and value trimmed); empty when absent.
std::wstring ReadIniValue(const std::wstring& path, const std::wstring& section,
                          const std::wstring& key);

// The same readers over text already in memory (for parsers and fuzzing).
std::vector<std::wstring> ParseIniSection(const std::string& fileBytes, const std::wstring& section);

}  // namespace platform
