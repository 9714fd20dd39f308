// The start address from the `url` and `url2` switches: percent-decoding, the
// "channelId" query value, and the origin the launcher trusts for it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/start_address.h"
#include "launcher/front_end_origins.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool useUrl = data[0] & 1;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string decoded = PercentDecode(bytes);
    if (decoded.size() > bytes.size()) __builtin_trap();
    if (bytes.find_first_of("%+") == std::string::npos && decoded != bytes) __builtin_trap();

    std::wstring wide = platform::Utf8ToWide(bytes);
    if (wide.empty()) wide = platform::AnsiToWide(bytes);
    std::string channel = ChannelIdQueryValue(wide);
    if (channel.find('&') != std::string::npos) __builtin_trap();

    std::wstring line = (useUrl ? L"*url:" : L"*url2:") + wide + L" *cid:83302ACB1052";
    ChannelInfo info;
    info.webUrl = L"https://front.example/?inner=pc&";
    StartAddress start = BuildStartAddress(CCmdLineParser(line), "83302ACB1052", info);
    if (start.address.find(L"channelId=") == std::wstring::npos) __builtin_trap();

    // An origin names its own address again, unchanged.
    std::string origin = OriginOfAddress(platform::WideToUtf8(start.address));
    if (!origin.empty() && OriginOfAddress(origin + "/") != origin) __builtin_trap();
    std::string raw = OriginOfAddress(bytes);
    if (!raw.empty() && OriginOfAddress(raw) != raw) __builtin_trap();
    return 0;
}
