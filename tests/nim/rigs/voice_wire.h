// The voice protocol's wire format as the test rigs write and read it, kept
// apart from the module's own encoder so that a fault there is not mirrored
// here: frames (u16 type + u32 length, big endian), the few proto2 fields the
// rigs need, the protocol's own variable-length integers and voice packets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmtest::voicewire {

enum Type : std::uint16_t {
    kVersion = 0,
    kUDPTunnel = 1,
    kAuthenticate = 2,
    kPing = 3,
    kReject = 4,
    kServerSync = 5,
    kChannelRemove = 6,
    kChannelState = 7,
    kUserRemove = 8,
    kUserState = 9,
    kCryptSetup = 15,
    kPermissionQuery = 20,
    kCodecVersion = 21,
    kServerConfig = 24,
};

// One frame: header and payload.
std::string Frame(std::uint16_t type, std::string_view payload);
// A header announcing `length` bytes, for frames that lie about their size.
std::string FrameHeader(std::uint16_t type, std::uint32_t length);

// A proto2 message, field by field.
class Message {
public:
    Message& Uint(std::uint32_t field, std::uint64_t value);
    Message& Bool(std::uint32_t field, bool value) { return Uint(field, value ? 1 : 0); }
    Message& Bytes(std::uint32_t field, std::string_view bytes);
    const std::string& data() const { return out_; }

private:
    void Varint(std::uint64_t value);
    std::string out_;
};

// The fields of a received proto2 message (last value wins; repeated fields
// keep the last); nullopt when the wire format is broken.
struct Fields {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> numbers;
    std::vector<std::pair<std::uint32_t, std::string>> strings;
    std::optional<std::uint64_t> Number(std::uint32_t field) const;
    std::optional<std::string> String(std::uint32_t field) const;
};
std::optional<Fields> Parse(std::string_view payload);

// The protocol's variable-length integer (not protobuf's).
void PutVarint(std::string& out, std::uint64_t value);
bool GetVarint(std::string_view data, size_t& pos, std::uint64_t& value);

// A voice packet as the server relays it: Opus header byte, the speaker's
// session, the sequence, the Opus length header (bit 13: last frame) and the frame.
std::string ServerVoice(std::uint32_t session, std::uint64_t sequence, std::string_view opus, bool last = false);
// The same as a client sends it (no session).
std::string ClientVoice(std::uint64_t sequence, std::string_view opus, bool last = false);

struct Voice {
    std::uint8_t codec = 0;
    std::uint32_t session = 0;
    std::uint64_t sequence = 0;
    std::string opus;
    bool last = false;
};
// A client's packet (no session); false when it is not Opus or is malformed.
bool ParseClientVoice(std::string_view packet, Voice& out);
bool ParseServerVoice(std::string_view packet, Voice& out);

// Messages a server sends.
std::string VersionMsg(std::uint32_t version = 0x010304);
std::string CryptSetupMsg();
std::string CodecVersionMsg();
std::string ChannelStateMsg(std::uint32_t id, std::uint32_t parent, const std::string& name, bool temporary = false);
std::string ChannelRemoveMsg(std::uint32_t id);
struct UserFields {
    std::uint32_t session = 0;
    std::optional<std::string> name;
    std::optional<std::uint32_t> channel;
    std::optional<bool> selfMute, selfDeaf, mute, deaf;
};
UserFields User(std::uint32_t session, const std::string& name, std::uint32_t channel);
std::string UserStateMsg(const UserFields& user);
std::string UserRemoveMsg(std::uint32_t session, const std::string& reason = "");
std::string ServerSyncMsg(std::uint32_t session, std::uint32_t maxBandwidth, std::uint64_t permissions);
std::string ServerConfigMsg(std::uint32_t maxBandwidth, std::uint32_t maxUsers);
std::string RejectMsg(std::uint32_t type, const std::string& reason);
std::string PingMsg(std::uint64_t timestamp);

}  // namespace qmtest::voicewire
