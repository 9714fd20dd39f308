// Parsing of /proc/PID/maps text without allocating, for the dump writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
namespace crash {

struct Mapping {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t offset = 0;
    std::uint64_t inode = 0;
    std::uint32_t devMajor = 0;
    std::uint32_t devMinor = 0;
    bool readable = false;
    bool writable = false;
    bool executable = false;
    const char* path = nullptr;  // points into the parsed text; not terminated
    size_t pathLength = 0;

    bool Contains(std::uint64_t address) const { return address >= start && address < end; }
    bool IsFile() const { return inode != 0 && pathLength > 0 && path[0] == '/'; }
    bool SameFile(const Mapping& other) const {
        return IsFile() && inode == other.inode && devMajor == other.devMajor && devMinor == other.devMinor;
    }
};

// Parses one line (without its line feed); false when it is not a maps line.
bool ParseMapsLine(const char* line, size_t length, Mapping& out);

// Parses every line of `text` into `out` (at most `capacity`); returns the count.
size_t ParseMaps(const char* text, size_t size, Mapping* out, size_t capacity);

// The mapping that contains `address`, or nullptr (mappings ascend by address).
const Mapping* FindMapping(const Mapping* mappings, size_t count, std::uint64_t address);
// Index of the first mapping that ends above `address` (count when none).
size_t FirstMappingEndingAbove(const Mapping* mappings, size_t count, std::uint64_t address);

// A loaded file: the mapping at file offset 0 and the ones of the same file
// that follow it.
struct ModuleSpan {
    size_t first = 0;  // index of the mapping at offset 0
    std::uint64_t base = 0;
    std::uint64_t end = 0;
};
// Finds the next module span at or after mapping `from`; false when none is left.
// `next` receives the index to continue from.
bool NextModuleSpan(const Mapping* mappings, size_t count, size_t from, ModuleSpan& span, size_t& next);

}  // namespace crash
}  // namespace platform
