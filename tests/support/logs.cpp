#include "tests/support/logs.h"

#include "platform/text.h"
#include "tests/support/process.h"

namespace qmtest {

std::wstring DecodeLogFile(const std::string& bytes) {
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return platform::Utf16ToWide(units);
}

std::string DailyLogs(const std::string& installDir) {
    std::string all;
    for (const auto& name : ListDir(installDir + "/LOG"))
        all += platform::WideToUtf8(DecodeLogFile(ReadFile(installDir + "/LOG/" + name)));
    return all;
}

}  // namespace qmtest
