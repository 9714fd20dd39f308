// The switch parser on arbitrary command lines (UTF-8 or code page 936 bytes).
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/cmdline_parser.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::wstring line = platform::Utf8ToWide(bytes);
    if (line.empty()) line = platform::AnsiToWide(bytes);
    if (line.empty()) line.assign(bytes.begin(), bytes.end());
    CCmdLineParser parser(line);
    for (const auto& kv : parser.Switches()) {
        if (parser.GetVal(kv.first) != kv.second) __builtin_trap();
    }
    parser.GetVal(L"start_cid");
    return 0;
}
