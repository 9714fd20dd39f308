// A reader for the minidumps the crash-dump writer produces, written against
// the published file layout with its own offsets (it shares no structures with
// the writer), and strict: anything out of bounds fails the parse.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qmtest {

struct DumpThread {
    std::uint32_t id = 0;
    std::uint64_t teb = 0;
    std::uint64_t stackStart = 0;
    std::uint32_t stackSize = 0;
    std::uint32_t contextFlags = 0;
    std::uint64_t rip = 0;
    std::uint64_t rsp = 0;
    std::uint64_t rbp = 0;
};

struct DumpModule {
    std::string path;
    std::uint64_t base = 0;
    std::uint32_t size = 0;
    std::uint32_t cvSignature = 0;
    std::string buildId;      // lower-case hex
    std::string fileVersion;  // "a.b.c.d", empty without version information
};

struct DumpException {
    std::uint32_t threadId = 0;
    std::uint32_t code = 0;
    std::int32_t flags = 0;
    std::uint64_t address = 0;
    std::uint64_t rip = 0;
};

struct DumpMemory {
    std::uint64_t start = 0;
    std::string bytes;
};

class Minidump {
public:
    // False with error() set when the bytes are not a well-formed dump.
    bool Parse(const std::string& bytes);
    const std::string& error() const { return error_; }

    std::uint32_t timeDateStamp = 0;
    std::uint16_t architecture = 0;
    std::uint32_t platformId = 0;
    std::uint32_t processors = 0;
    std::string osDescription;
    std::uint32_t processId = 0;
    std::vector<DumpThread> threads;
    std::vector<DumpModule> modules;
    std::optional<DumpException> exception;
    std::vector<DumpMemory> memory;
    std::map<std::uint32_t, std::string> streams;  // every stream's bytes by type

    const DumpThread* Thread(std::uint32_t id) const;
    const DumpModule* ModuleAt(std::uint64_t address) const;
    const DumpModule* ModuleNamed(const std::string& fileName) const;
    // Bytes of the memory list at [address, address + size); false when not all there.
    bool ReadMemory(std::uint64_t address, size_t size, std::string& out) const;

private:
    bool Fail(const std::string& why);
    std::string error_;
};

// Hex build id of an ELF file on disk, empty when it has none.
std::string ElfBuildId(const std::string& path);

}  // namespace qmtest
