// The ".reg" machine registry reader on arbitrary file contents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::ParseRegFile(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
