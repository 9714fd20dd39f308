#include "outside/qm_nim/proto/messages.h"

#include "outside/qm_nim/proto/wire.h"

namespace qmnim::proto {
namespace {

// Field readers that ignore a field carried with another wire type than the
// schema's: a newer server may change nothing we rely on that way.
bool U32(const Field& f, std::optional<std::uint32_t>& out) {
    if (f.type != WireType::Varint) return false;
    out = static_cast<std::uint32_t>(f.value);
    return true;
}
bool U64(const Field& f, std::optional<std::uint64_t>& out) {
    if (f.type != WireType::Varint) return false;
    out = f.value;
    return true;
}
bool Flag(const Field& f, std::optional<bool>& out) {
    if (f.type != WireType::Varint) return false;
    out = f.value != 0;
    return true;
}
bool Flag(const Field& f, bool& out) {
    if (f.type != WireType::Varint) return false;
    out = f.value != 0;
    return true;
}
bool Text(const Field& f, std::string& out) {
    if (f.type != WireType::Bytes) return false;
    out.assign(f.bytes.data(), f.bytes.size());
    return true;
}
bool Text(const Field& f, std::optional<std::string>& out) {
    if (f.type != WireType::Bytes) return false;
    out.emplace(f.bytes.data(), f.bytes.size());
    return true;
}

template <class Visit>
bool Walk(std::string_view data, Visit visit) {
    Reader reader(data);
    Field f;
    while (reader.Next(f)) visit(f);
    return reader.ok();
}

}  // namespace

std::string VersionMsg::Encode() const {
    Writer w;
    if (version) w.Uint(1, *version);
    if (!release.empty()) w.Bytes(2, release);
    if (!os.empty()) w.Bytes(3, os);
    if (!osVersion.empty()) w.Bytes(4, osVersion);
    return w.Take();
}

bool VersionMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, version); break;
        case 2: Text(f, release); break;
        case 3: Text(f, os); break;
        case 4: Text(f, osVersion); break;
        }
    });
}

std::string AuthenticateMsg::Encode() const {
    Writer w;
    w.Bytes(1, username);
    if (!password.empty()) w.Bytes(2, password);
    for (const std::string& t : tokens) w.Bytes(3, t);
    w.Bool(5, opus);
    return w.Take();
}

std::string PingMsg::Encode() const {
    Writer w;
    if (timestamp) w.Uint(1, *timestamp);
    if (good) w.Uint(2, *good);
    if (late) w.Uint(3, *late);
    if (lost) w.Uint(4, *lost);
    if (resync) w.Uint(5, *resync);
    if (udpPackets) w.Uint(6, *udpPackets);
    if (tcpPackets) w.Uint(7, *tcpPackets);
    return w.Take();
}

bool PingMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U64(f, timestamp); break;
        case 2: U32(f, good); break;
        case 3: U32(f, late); break;
        case 4: U32(f, lost); break;
        case 5: U32(f, resync); break;
        case 6: U32(f, udpPackets); break;
        case 7: U32(f, tcpPackets); break;
        }
    });
}

std::string CryptSetupMsg::Encode() const {
    Writer w;
    if (key) w.Bytes(1, *key);
    if (clientNonce) w.Bytes(2, *clientNonce);
    if (serverNonce) w.Bytes(3, *serverNonce);
    return w.Take();
}

bool CryptSetupMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: Text(f, key); break;
        case 2: Text(f, clientNonce); break;
        case 3: Text(f, serverNonce); break;
        }
    });
}

bool RejectMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        std::optional<std::uint32_t> t;
        if (f.number == 1 && U32(f, t)) type = *t;
        if (f.number == 2) Text(f, reason);
    });
}

bool ServerSyncMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, session); break;
        case 2: U32(f, maxBandwidth); break;
        case 3: Text(f, welcomeText); break;
        case 4: U64(f, permissions); break;
        }
    });
}

bool ChannelRemoveMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        if (f.number == 1) U32(f, channelId);
    });
}

std::string ChannelStateMsg::Encode() const {
    Writer w;
    if (channelId) w.Uint(1, *channelId);
    if (parent) w.Uint(2, *parent);
    if (name) w.Bytes(3, *name);
    if (temporary) w.Bool(8, *temporary);
    return w.Take();
}

bool ChannelStateMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, channelId); break;
        case 2: U32(f, parent); break;
        case 3: Text(f, name); break;
        case 8: Flag(f, temporary); break;
        }
    });
}

bool UserRemoveMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, session); break;
        case 2: U32(f, actor); break;
        case 3: Text(f, reason); break;
        case 4: Flag(f, ban); break;
        }
    });
}

std::string UserStateMsg::Encode() const {
    Writer w;
    if (session) w.Uint(1, *session);
    if (actor) w.Uint(2, *actor);
    if (name) w.Bytes(3, *name);
    if (userId) w.Uint(4, *userId);
    if (channelId) w.Uint(5, *channelId);
    if (mute) w.Bool(6, *mute);
    if (deaf) w.Bool(7, *deaf);
    if (suppress) w.Bool(8, *suppress);
    if (selfMute) w.Bool(9, *selfMute);
    if (selfDeaf) w.Bool(10, *selfDeaf);
    return w.Take();
}

bool UserStateMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, session); break;
        case 2: U32(f, actor); break;
        case 3: Text(f, name); break;
        case 4: U32(f, userId); break;
        case 5: U32(f, channelId); break;
        case 6: Flag(f, mute); break;
        case 7: Flag(f, deaf); break;
        case 8: Flag(f, suppress); break;
        case 9: Flag(f, selfMute); break;
        case 10: Flag(f, selfDeaf); break;
        }
    });
}

bool PermissionDeniedMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, permission); break;
        case 2: U32(f, channelId); break;
        case 3: U32(f, session); break;
        case 4: Text(f, reason); break;
        case 5: U32(f, type); break;
        case 6: Text(f, name); break;
        }
    });
}

bool PermissionQueryMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, channelId); break;
        case 2: U32(f, permissions); break;
        case 3: Flag(f, flush); break;
        }
    });
}

std::string AclMsg::Encode() const {
    Writer w;
    w.Uint(1, channelId);
    w.Bool(2, inheritAcls);
    for (const Group& g : groups) {
        Writer gw;
        gw.Bytes(1, g.name);
        gw.Bool(3, g.inherit);
        gw.Bool(4, g.inheritable);
        for (std::uint32_t id : g.add) gw.Uint(5, id);
        w.Message(3, gw);
    }
    for (const Entry& e : acls) {
        Writer ew;
        ew.Bool(1, e.applyHere);
        ew.Bool(2, e.applySubs);
        ew.Bool(3, e.inherited);
        if (e.userId) ew.Uint(4, *e.userId);
        if (!e.group.empty()) ew.Bytes(5, e.group);
        ew.Uint(6, e.grant);
        ew.Uint(7, e.deny);
        w.Message(4, ew);
    }
    w.Bool(5, query);
    return w.Take();
}

bool AclMsg::Decode(std::string_view data) {
    bool nestedOk = true;
    bool ok = Walk(data, [&](const Field& f) {
        switch (f.number) {
        case 1: {
            std::optional<std::uint32_t> id;
            if (U32(f, id)) channelId = *id;
            break;
        }
        case 2: Flag(f, inheritAcls); break;
        case 3: {
            if (f.type != WireType::Bytes) break;
            Group g;
            nestedOk &= Walk(f.bytes, [&g](const Field& gf) {
                std::optional<std::uint32_t> id;
                switch (gf.number) {
                case 1: Text(gf, g.name); break;
                case 3: Flag(gf, g.inherit); break;
                case 4: Flag(gf, g.inheritable); break;
                case 5:
                    if (U32(gf, id)) g.add.push_back(*id);
                    break;
                }
            });
            groups.push_back(std::move(g));
            break;
        }
        case 4: {
            if (f.type != WireType::Bytes) break;
            Entry e;
            nestedOk &= Walk(f.bytes, [&e](const Field& ef) {
                std::optional<std::uint32_t> v;
                switch (ef.number) {
                case 1: Flag(ef, e.applyHere); break;
                case 2: Flag(ef, e.applySubs); break;
                case 3: Flag(ef, e.inherited); break;
                case 4: U32(ef, e.userId); break;
                case 5: Text(ef, e.group); break;
                case 6:
                    if (U32(ef, v)) e.grant = *v;
                    break;
                case 7:
                    if (U32(ef, v)) e.deny = *v;
                    break;
                }
            });
            acls.push_back(std::move(e));
            break;
        }
        case 5: Flag(f, query); break;
        }
    });
    return ok && nestedOk;
}

bool ServerConfigMsg::Decode(std::string_view data) {
    return Walk(data, [this](const Field& f) {
        switch (f.number) {
        case 1: U32(f, maxBandwidth); break;
        case 2: Text(f, welcomeText); break;
        case 6: U32(f, maxUsers); break;
        }
    });
}

std::string FrameHeader(MessageType type, size_t payloadBytes) {
    auto t = static_cast<std::uint16_t>(type);
    auto n = static_cast<std::uint32_t>(payloadBytes);
    std::string h(kFrameHeaderBytes, '\0');
    h[0] = static_cast<char>(t >> 8);
    h[1] = static_cast<char>(t);
    for (int i = 0; i < 4; ++i) h[2 + i] = static_cast<char>(n >> (24 - 8 * i));
    return h;
}

bool FrameParser::Feed(std::string_view bytes) {
    if (failed_) return false;
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    buffer_.append(bytes.data(), bytes.size());
    return true;
}

bool FrameParser::Next(std::uint16_t& type, std::string_view& payload) {
    if (failed_) return false;
    size_t left = buffer_.size() - consumed_;
    if (left < kFrameHeaderBytes) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(buffer_.data() + consumed_);
    std::uint32_t length = (std::uint32_t(p[2]) << 24) | (std::uint32_t(p[3]) << 16) | (std::uint32_t(p[4]) << 8) | p[5];
    if (length > kMaxFramePayload) {
        failed_ = true;
        return false;
    }
    if (left - kFrameHeaderBytes < length) return false;
    type = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
    payload = std::string_view(buffer_.data() + consumed_ + kFrameHeaderBytes, length);
    consumed_ += kFrameHeaderBytes + length;
    return true;
}

}  // namespace qmnim::proto
