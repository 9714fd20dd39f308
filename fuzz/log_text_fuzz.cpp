// Outside text on its way into log lines, and the hand-over a second start
// sends: escaping never lets a line break or control byte through, cuts stay
// within bounds and on character boundaries, masking leaves no query behind,
// and decoding a hand-over never yields more than one line. With bit 7 of the
// first byte set the input is repeated up to 1 MiB (the largest page text),
// so that anything not linear in its input runs out of time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/log_text.h"
#include "launcher/hand_over.h"
#include "platform/text.h"

namespace {
constexpr size_t kLargestText = 1u << 20;

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t limit = 16 + data[0] % 64;
    bool tile = (data[0] & 0x80) != 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (tile && !text.empty()) {
        std::string unit = text;
        text.reserve(kLargestText);
        while (text.size() + unit.size() <= kLargestText) text += unit;
    }

    std::string escaped = EscapeForLog(text, limit);
    if (HasControl(escaped) || escaped.size() > limit + 3) __builtin_trap();
    std::string page = PageTextForLog(text, limit);
    if (HasControl(page) || page.size() > limit + 3) __builtin_trap();
    // A cut never splits a double-byte character: the line still decodes.
    if (!page.empty() && platform::AnsiToWide(page).empty()) __builtin_trap();

    std::string masked = MaskUrlsIn(text);
    if (masked.size() > text.size() + 16 * (text.size() / 3 + 1)) __builtin_trap();
    std::string one = MaskUrl(text);
    size_t q = one.find('?');
    if (one.find("://") != std::string::npos && q != std::string::npos && one.compare(q, 4, "?***") != 0) __builtin_trap();

    HandOverRequest request;
    if (DecodeHandOver(text, request)) {
        if (request.startCid.find_first_of(L"\r\n") != std::wstring::npos) __builtin_trap();
        HandOverRequest again;
        if (!DecodeHandOver(EncodeHandOver(request), again) || again.hasStartCid != request.hasStartCid ||
            again.activationToken != request.activationToken)
            __builtin_trap();
        // A token is one printable word: it can add no line to what follows it.
        for (char c : request.activationToken)
            if (c <= ' ' || c > '~') __builtin_trap();
    }
    return 0;
}
