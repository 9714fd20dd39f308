// Version notes and string tables stamped into binaries (the counterpart of
// Windows version and string resources). Read from the file without loading it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace platform {

struct VersionInfo {
    std::array<std::uint16_t, 4> file{};     // file version, most significant first
    std::array<std::uint16_t, 4> product{};  // product version
};

// Reads the version note of an ELF file; false when it has none.
bool ReadVersionNote(const std::wstring& path, VersionInfo& info);
// "a.b.c.d" of the file version, empty without a note.
std::wstring FileVersionString(const std::wstring& path);
// "a.b.c.d" of the product version, empty without a note.
std::wstring ProductVersionString(const std::wstring& path);
// Reads string `id` of the string-table note; false when absent.
bool ReadStringResource(const std::wstring& path, std::uint32_t id, std::wstring& text);

// Parsers over bytes already read (for tests and fuzzing).
bool ParseVersionNote(const std::string& elfBytes, VersionInfo& info);
bool ParseStringTable(const std::string& elfBytes, std::map<std::uint32_t, std::wstring>& table);

}  // namespace platform
