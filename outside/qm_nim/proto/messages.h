// The control messages of the voice protocol that this client sends or reads,
// with their type numbers and field numbers. Decoding keeps what it knows,
// skips unknown fields and refuses a message whose wire format is broken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmnim::proto {

enum class MessageType : std::uint16_t {
    Version = 0,
    UDPTunnel = 1,
    Authenticate = 2,
    Ping = 3,
    Reject = 4,
    ServerSync = 5,
    ChannelRemove = 6,
    ChannelState = 7,
    UserRemove = 8,
    UserState = 9,
    BanList = 10,
    TextMessage = 11,
    PermissionDenied = 12,
    ACL = 13,
    QueryUsers = 14,
    CryptSetup = 15,
    PermissionQuery = 20,
    CodecVersion = 21,
    UserStats = 22,
    ServerConfig = 24,
};

// The protocol version this client speaks: 1.3.4.
constexpr std::uint32_t kProtocolVersion = (1u << 16) | (3u << 8) | 4u;

// Permission bits the client looks at.
constexpr std::uint32_t kPermWrite = 0x1;
constexpr std::uint32_t kPermTraverse = 0x2;
constexpr std::uint32_t kPermEnter = 0x4;
constexpr std::uint32_t kPermSpeak = 0x8;
constexpr std::uint32_t kPermMakeChannel = 0x40;
constexpr std::uint32_t kPermMakeTempChannel = 0x400;
constexpr std::uint32_t kPermSelfRegister = 0x80000;

struct VersionMsg {
    std::optional<std::uint32_t> version;
    std::string release, os, osVersion;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

struct AuthenticateMsg {
    std::string username;
    std::string password;
    std::vector<std::string> tokens;
    bool opus = true;
    std::string Encode() const;
};

// Also the statistics of the voice datagrams: the sender's count of what it
// received from the other side (good, late, lost, resyncs) and of what it sent
// each way. The server answers with its own counts of what it received from us.
struct PingMsg {
    std::optional<std::uint64_t> timestamp;
    std::optional<std::uint32_t> good, late, lost, resync;
    std::optional<std::uint32_t> udpPackets, tcpPackets;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

enum class RejectType : std::uint32_t {
    None = 0,
    WrongVersion = 1,
    InvalidUsername = 2,
    WrongUserPW = 3,
    WrongServerPW = 4,
    UsernameInUse = 5,
    ServerFull = 6,
    NoCertificate = 7,
    AuthenticatorFail = 8,
};

struct RejectMsg {
    std::uint32_t type = 0;
    std::string reason;
    bool Decode(std::string_view data);
};

struct ServerSyncMsg {
    std::optional<std::uint32_t> session;
    std::optional<std::uint32_t> maxBandwidth;
    std::string welcomeText;
    std::optional<std::uint64_t> permissions;
    bool Decode(std::string_view data);
};

struct ChannelRemoveMsg {
    std::optional<std::uint32_t> channelId;
    bool Decode(std::string_view data);
};

struct ChannelStateMsg {
    std::optional<std::uint32_t> channelId;
    std::optional<std::uint32_t> parent;
    std::optional<std::string> name;
    std::optional<bool> temporary;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

struct UserRemoveMsg {
    std::optional<std::uint32_t> session;
    std::optional<std::uint32_t> actor;
    std::string reason;
    bool ban = false;
    bool Decode(std::string_view data);
};

struct UserStateMsg {
    std::optional<std::uint32_t> session;
    std::optional<std::uint32_t> actor;
    std::optional<std::string> name;
    std::optional<std::uint32_t> userId;
    std::optional<std::uint32_t> channelId;
    std::optional<bool> mute, deaf, suppress, selfMute, selfDeaf;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

enum class DenyType : std::uint32_t {
    Text = 0,
    Permission = 1,
    SuperUser = 2,
    ChannelName = 3,
    TextTooLong = 4,
    H9K = 5,
    TemporaryChannel = 6,
    MissingCertificate = 7,
    UserName = 8,
    ChannelFull = 9,
    NestingLimit = 10,
};

struct PermissionDeniedMsg {
    std::optional<std::uint32_t> permission;
    std::optional<std::uint32_t> channelId;
    std::optional<std::uint32_t> session;
    std::string reason;
    std::optional<std::uint32_t> type;
    std::string name;
    bool Decode(std::string_view data);
};

// The key and nonces of the voice datagrams (16 bytes each). From the
// server: all three at login; only the server's nonce as the answer to a
// resync request; nothing to ask for this client's nonce. From this client:
// nothing to ask for the server's nonce, or its own nonce.
struct CryptSetupMsg {
    std::optional<std::string> key, clientNonce, serverNonce;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

struct PermissionQueryMsg {
    std::optional<std::uint32_t> channelId;
    std::optional<std::uint32_t> permissions;
    bool flush = false;
    bool Decode(std::string_view data);
};

// A channel's access list (only what an administrator tool needs to set it).
struct AclMsg {
    struct Group {
        std::string name;
        bool inherit = true;
        bool inheritable = true;
        std::vector<std::uint32_t> add;
    };
    struct Entry {
        bool applyHere = true;
        bool applySubs = true;
        std::optional<std::uint32_t> userId;
        std::string group;
        std::uint32_t grant = 0;
        std::uint32_t deny = 0;
        bool inherited = false;
    };
    std::uint32_t channelId = 0;
    bool inheritAcls = true;
    std::vector<Group> groups;
    std::vector<Entry> acls;
    bool query = false;
    std::string Encode() const;
    bool Decode(std::string_view data);
};

struct ServerConfigMsg {
    std::optional<std::uint32_t> maxBandwidth;
    std::string welcomeText;
    std::optional<std::uint32_t> maxUsers;
    bool Decode(std::string_view data);
};

// One frame of the control connection: 2 bytes type, 4 bytes length (both big
// endian), then the payload.
constexpr size_t kFrameHeaderBytes = 6;
// The largest payload accepted; bigger frames end the connection.
constexpr size_t kMaxFramePayload = 8u << 20;

std::string FrameHeader(MessageType type, size_t payloadBytes);

// Collects received bytes and hands out whole frames.
class FrameParser {
public:
    // Adds bytes; false once a frame announced more than kMaxFramePayload.
    bool Feed(std::string_view bytes);
    // The next whole frame, if any. The payload stays valid until the next Feed or Next.
    bool Next(std::uint16_t& type, std::string_view& payload);
    bool failed() const { return failed_; }

private:
    std::string buffer_;
    size_t consumed_ = 0;
    bool failed_ = false;
};

}  // namespace qmnim::proto
