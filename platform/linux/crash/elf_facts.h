// What the dump records of a loaded ELF file: its build id (debuggers match
// symbol files by it) and its own version note.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/crash/process_memory.h"

namespace platform {
namespace crash {

struct ElfFacts {
    std::uint8_t buildId[64];
    size_t buildIdLength;
    bool hasVersion;
    std::uint16_t fileVersion[4];
    std::uint16_t productVersion[4];
};

// Reads the image loaded at `base` (its first byte, file offset 0) through its
// program headers. False when there is no ELF image there.
bool ReadElfFacts(const ProcessMemory& memory, std::uint64_t base, ElfFacts& facts);

// Picks the build id and the version note out of a note segment.
void ScanNotes(const std::uint8_t* notes, size_t size, size_t align, ElfFacts& facts);

}  // namespace crash
}  // namespace platform
