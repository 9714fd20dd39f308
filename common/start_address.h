// The address the main window opens, from the switches and the channel:
// `url` (gets "inner=pc"), percent-encoded `url2`, or the channel's front-end;
// each carries the channel id as its "channelId" query value.
#pragma once

#include <string>

#include "common/client_config.h"
#include "common/cmdline_parser.h"

struct StartAddress {
    std::wstring address;
    std::string cid;          // the channel id in effect afterwards (ANSI)
    bool fromSwitch = false;  // `url` or `url2` gave a non-empty address
};

// `cid` is the resolved channel id (ANSI) before the address is built.
StartAddress BuildStartAddress(const CCmdLineParser& switches, const std::string& cid, const ChannelInfo& channel);

// The value of the query parameter named exactly "channelId" (UTF-8 text of the address).
std::string ChannelIdQueryValue(const std::wstring& address);

// '+' becomes a blank and "%XY" the byte 0xXY; a '%' among the last two
// characters ends the decoding. Bytes in, bytes out.
std::string PercentDecode(const std::string& text);
