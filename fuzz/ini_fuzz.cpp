// The INI section reader on arbitrary file contents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    platform::ParseIniSection(bytes, L"Start_Cid");
    platform::ParseIniSection(bytes, L"frontend");
    return 0;
}
