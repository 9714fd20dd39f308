// The voice module's parsers with whatever a server (or anyone on the path
// to it) could send: control frames and every message we decode, voice
// packets and their variable-length integers, channel names, and the
// deployment file's host and fingerprint. The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/proto/messages.h"
#include "outside/qm_nim/proto/room_name.h"
#include "outside/qm_nim/proto/voice_packet.h"

using namespace qmnim;

namespace {

void DecodeAll(std::string_view payload) {
    proto::VersionMsg version;
    version.Decode(payload);
    proto::PingMsg ping;
    ping.Decode(payload);
    proto::RejectMsg reject;
    reject.Decode(payload);
    proto::ServerSyncMsg sync;
    sync.Decode(payload);
    proto::ChannelRemoveMsg remove;
    remove.Decode(payload);
    proto::ChannelStateMsg channel;
    if (channel.Decode(payload)) {
        proto::ChannelStateMsg again;
        if (!again.Decode(channel.Encode()) || again.name != channel.name || again.parent != channel.parent) std::abort();
    }
    proto::UserRemoveMsg userRemove;
    userRemove.Decode(payload);
    proto::UserStateMsg user;
    if (user.Decode(payload)) {
        proto::UserStateMsg again;
        if (!again.Decode(user.Encode()) || again.session != user.session || again.channelId != user.channelId) std::abort();
    }
    proto::PermissionDeniedMsg denied;
    denied.Decode(payload);
    proto::PermissionQueryMsg query;
    query.Decode(payload);
    proto::AclMsg acl;
    acl.Decode(payload);
    proto::ServerConfigMsg config;
    config.Decode(payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 6) {
    case 0: {  // a stream of control frames, fed in uneven pieces
        proto::FrameParser frames;
        for (size_t at = 0; at < input.size();) {
            size_t piece = 1 + (static_cast<unsigned char>(input[at]) % 97);
            frames.Feed(input.substr(at, piece));
            at += piece;
            std::uint16_t type;
            std::string_view payload;
            while (frames.Next(type, payload)) DecodeAll(payload);
        }
        break;
    }
    case 1:
        DecodeAll(input);
        break;
    case 2: {  // voice packets as relayed and as sent
        proto::ReceivedVoice v;
        if (proto::ParseServerVoice(input, v) && v.opus.size() > input.size()) std::abort();
        if (proto::ParseClientVoice(input, v)) {
            std::string again = proto::BuildVoicePacket(v.sequence, v.opus, v.last);
            proto::ReceivedVoice w;
            if (!again.empty() && (!proto::ParseClientVoice(again, w) || w.opus != v.opus || w.sequence != v.sequence))
                std::abort();
        }
        break;
    }
    case 3: {  // variable-length integers back to back
        size_t pos = 0;
        std::int64_t value;
        while (pos < input.size() && proto::ReadVarint(input, pos, value)) {
            std::string out;
            proto::WriteVarint(out, value);
            size_t p = 0;
            std::int64_t back;
            if (!proto::ReadVarint(out, p, back) || back != value) std::abort();
        }
        break;
    }
    case 4: {  // room ids and channel names both ways
        std::string name = proto::ChannelNameForRoom(input);
        auto back = proto::RoomForChannelName(name);
        if (!back || *back != input || !proto::IsPlainChannelName(name)) std::abort();
        proto::RoomForChannelName(input);
        break;
    }
    case 5: {  // the [voice] values
        size_t split = input.find('\n');
        std::string error;
        net::ParseVoiceServer(input.substr(0, split), split == std::string_view::npos ? "" : input.substr(split + 1),
                              error);
        break;
    }
    }
    return 0;
}
