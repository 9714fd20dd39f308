// Reading the crashed process's memory from the writer process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
namespace crash {

// process_vm_readv never faults, whatever the address. When the crashed
// process cannot be read (no ptrace rights), the writer's own copy of its
// memory, taken at the crash, stands in.
class ProcessMemory {
public:
    explicit ProcessMemory(int pid);
    // Copies the range to `out`; unreadable pages become zeros. False when
    // nothing at all could be read.
    bool Read(std::uint64_t address, void* out, size_t length) const;

private:
    int pid_;
    int self_;
};

}  // namespace crash
}  // namespace platform
