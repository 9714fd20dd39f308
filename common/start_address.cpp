#include "common/start_address.h"

#include "platform/text.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) break;  // truncated escape: the rest is dropped
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) {
                out += c;  // not an escape: kept as written
                continue;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string ChannelIdQueryValue(const std::wstring& address) {
    std::string text = platform::WideToUtf8(address);
    size_t q = text.find('?');
    if (q != std::string::npos) text = text.substr(q + 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t amp = text.find('&', start);
        std::string part = text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        size_t pq = part.find('?');
        if (pq != std::string::npos) part = part.substr(pq + 1);
        size_t eq = part.find('=');
        if (eq != std::string::npos && part.substr(0, eq) == "channelId") return part.substr(eq + 1);
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return {};
}

StartAddress BuildStartAddress(const CCmdLineParser& switches, const std::string& cid, const ChannelInfo& channel) {
    StartAddress r;
    r.cid = cid;
    std::wstring wideCid = platform::AnsiToWide(cid);
    if (switches.HasKey(L"url")) {
        r.address = switches.GetVal(L"url");
        r.address += r.address.find(L'?') == std::wstring::npos ? L"?inner=pc" : L"&inner=pc";
        if (r.address.find(L"channelId=") == std::wstring::npos) r.address += L"&channelId=" + wideCid;
        r.cid = platform::Utf8ToAnsi(ChannelIdQueryValue(r.address));
        r.fromSwitch = !r.address.empty();
    } else if (!switches.GetVal(L"url2").empty()) {
        r.address = platform::Utf8ToWide(PercentDecode(platform::WideToUtf8(switches.GetVal(L"url2"))));
        if (r.address.find(L"channelId=") == std::wstring::npos) r.address += L"&channelId=" + wideCid;
        r.cid = platform::Utf8ToAnsi(ChannelIdQueryValue(r.address));
        r.fromSwitch = !r.address.empty();
    } else {
        r.address = channel.webUrl + L"channelId=" + wideCid;
    }
    return r;
}
