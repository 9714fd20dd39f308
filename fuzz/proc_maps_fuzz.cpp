// The /proc/<pid>/maps parser of the crash-dump writer on arbitrary text (it
// runs in a crashed process: it must never read past what it was given).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/linux/crash/proc_maps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes: a read past the end is caught.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    platform::crash::Mapping mappings[64];
    size_t count = platform::crash::ParseMaps(text.get(), size, mappings, 64);
    for (size_t i = 0; i < count; ++i) {
        const platform::crash::Mapping& m = mappings[i];
        if (m.pathLength > 0 && (m.path < text.get() || m.path + m.pathLength > text.get() + size)) __builtin_trap();
    }
    if (count > 0) {
        platform::crash::FindMapping(mappings, count, mappings[0].start);
        platform::crash::FirstMappingEndingAbove(mappings, count, mappings[count - 1].end);
    }
    return 0;
}
