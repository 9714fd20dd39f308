// The boot time memo reader on arbitrary file contents (the file lives in the
// user's runtime directory, where any process of the user may write it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/services/identity/boot_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string text;
    for (const char* bootId : {"5f1c0c1e-0000-4000-8000-000000000001", "x"}) {
        if (!ParseBootMemo(bytes, bootId, text)) continue;
        // Accepted only in the text's own shape.
        if (text.empty() || text.find_first_not_of("0123456789:-/") != std::string::npos) std::abort();
        if (bytes.compare(0, std::char_traits<char>::length(bootId), bootId) != 0) std::abort();
    }
    return 0;
}
