// Voice packets of the legacy (1.2/1.3) format, as carried in UDPTunnel frames:
// a header byte (codec in bits 7..5, target in bits 4..0), the protocol's own
// variable-length integers, and one Opus frame with its length header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmnim::proto {

constexpr std::uint8_t kCodecOpus = 4;
constexpr std::uint8_t kCodecPing = 1;
constexpr std::uint8_t kTargetNormal = 0;
// Opus length header: 13 bits of length, bit 13 marks a transmission's last frame.
constexpr std::uint32_t kOpusLengthMask = 0x1FFF;
constexpr std::uint32_t kOpusTerminator = 0x2000;
// The whole packet stays within the protocol's datagram budget.
constexpr size_t kMaxVoicePacket = 1020;

// The protocol's variable-length integer (not protobuf's): a prefix of one
// bits says how many bytes follow; two forms carry negative numbers as the
// complement of what follows.
void WriteVarint(std::string& out, std::int64_t value);
bool ReadVarint(std::string_view data, size_t& pos, std::int64_t& value);

// A packet from this client: header, sequence, Opus frame. Empty when the
// frame does not fit the packet budget.
std::string BuildVoicePacket(std::uint64_t sequence, std::string_view opus, bool last);

struct ReceivedVoice {
    std::uint8_t codec = 0;
    std::uint8_t target = 0;
    std::uint32_t session = 0;  // the speaker
    std::uint64_t sequence = 0;
    std::string_view opus;      // points into the packet
    bool last = false;
};

// A packet as the server relays it (with the speaker's session). False for
// codecs other than Opus and for malformed packets.
bool ParseServerVoice(std::string_view packet, ReceivedVoice& out);
// The same without the session: a packet as a client sends it.
bool ParseClientVoice(std::string_view packet, ReceivedVoice& out);

// A voice packet without sound for the server's loopback target (31): the
// server sends it back to this client alone, and takes it as voice that came
// by datagram, so it sends this client's voice by datagram again.
constexpr std::uint8_t kTargetLoopback = 31;
std::string BuildLoopbackMark();

// A ping over the datagram path: the header of codec "ping", then a
// timestamp the server sends back unchanged.
std::string BuildUdpPing(std::uint64_t timestamp);
// False unless `packet` is such a ping.
bool ParseUdpPing(std::string_view packet, std::uint64_t& timestamp);

}  // namespace qmnim::proto
