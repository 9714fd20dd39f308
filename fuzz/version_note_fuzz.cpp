// The ELF version note and string-table readers on arbitrary file contents
// (a module beside the program may be truncated, or not ours).
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/version_note.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    platform::VersionInfo info;
    platform::ParseVersionNote(bytes, info);
    std::map<std::uint32_t, std::wstring> table;
    platform::ParseStringTable(bytes, table);
    return 0;
}
