#include "tests/nim/rigs/voice_wire.h"

#include <openssl/rand.h>

namespace qmtest::voicewire {

std::string FrameHeader(std::uint16_t type, std::uint32_t length) {
    std::string h(6, '\0');
    h[0] = static_cast<char>(type >> 8);
    h[1] = static_cast<char>(type);
    for (int i = 0; i < 4; ++i) h[2 + i] = static_cast<char>(length >> (24 - 8 * i));
    return h;
}

std::string Frame(std::uint16_t type, std::string_view payload) {
    return FrameHeader(type, static_cast<std::uint32_t>(payload.size())) + std::string(payload);
}

void Message::Varint(std::uint64_t value) {
    while (value >= 0x80) {
        out_ += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out_ += static_cast<char>(value);
}

Message& Message::Uint(std::uint32_t field, std::uint64_t value) {
    Varint(std::uint64_t{field} << 3);
    Varint(value);
    return *this;
}

Message& Message::Bytes(std::uint32_t field, std::string_view bytes) {
    Varint((std::uint64_t{field} << 3) | 2);
    Varint(bytes.size());
    out_.append(bytes);
    return *this;
}

std::optional<std::uint64_t> Fields::Number(std::uint32_t field) const {
    std::optional<std::uint64_t> v;
    for (const auto& [f, n] : numbers)
        if (f == field) v = n;
    return v;
}

std::optional<std::string> Fields::String(std::uint32_t field) const {
    std::optional<std::string> v;
    for (const auto& [f, s] : strings)
        if (f == field) v = s;
    return v;
}

namespace {

bool ProtoVarint(std::string_view data, size_t& pos, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && pos < data.size(); shift += 7) {
        auto b = static_cast<std::uint8_t>(data[pos++]);
        value |= std::uint64_t{b & 0x7Fu} << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

}  // namespace

std::optional<Fields> Parse(std::string_view payload) {
    Fields fields;
    size_t pos = 0;
    while (pos < payload.size()) {
        std::uint64_t key = 0, value = 0;
        if (!ProtoVarint(payload, pos, key)) return std::nullopt;
        auto field = static_cast<std::uint32_t>(key >> 3);
        switch (key & 7) {
        case 0:
            if (!ProtoVarint(payload, pos, value)) return std::nullopt;
            fields.numbers.emplace_back(field, value);
            break;
        case 1:
            if (payload.size() - pos < 8) return std::nullopt;
            pos += 8;
            break;
        case 2:
            if (!ProtoVarint(payload, pos, value) || value > payload.size() - pos) return std::nullopt;
            fields.strings.emplace_back(field, std::string(payload.substr(pos, value)));
            pos += value;
            break;
        case 5:
            if (payload.size() - pos < 4) return std::nullopt;
            pos += 4;
            break;
        default:
            return std::nullopt;
        }
    }
    return fields;
}

void PutVarint(std::string& out, std::uint64_t v) {
    auto put = [&out](std::uint64_t x, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(x >> (8 * i));
    };
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v < 0x4000) {
        out += static_cast<char>(0x80 | (v >> 8));
        put(v, 1);
    } else if (v < 0x200000) {
        out += static_cast<char>(0xC0 | (v >> 16));
        put(v, 2);
    } else if (v < 0x10000000) {
        out += static_cast<char>(0xE0 | (v >> 24));
        put(v, 3);
    } else if (v <= 0xFFFFFFFFu) {
        out += static_cast<char>(0xF0);
        put(v, 4);
    } else {
        out += static_cast<char>(0xF4);
        put(v, 8);
    }
}

bool GetVarint(std::string_view data, size_t& pos, std::uint64_t& value) {
    if (pos >= data.size()) return false;
    auto b = static_cast<std::uint8_t>(data[pos++]);
    int more = 0;
    if (b < 0x80) {
        value = b;
        return true;
    } else if (b < 0xC0) {
        value = b & 0x3F, more = 1;
    } else if (b < 0xE0) {
        value = b & 0x1F, more = 2;
    } else if (b < 0xF0) {
        value = b & 0x0F, more = 3;
    } else if ((b & 0xFC) == 0xF0) {
        value = 0, more = 4;
    } else if ((b & 0xFC) == 0xF4) {
        value = 0, more = 8;
    } else {
        return false;  // negative forms: never a session, sequence or length
    }
    if (data.size() - pos < static_cast<size_t>(more)) return false;
    for (int i = 0; i < more; ++i) value = (value << 8) | static_cast<std::uint8_t>(data[pos++]);
    return true;
}

namespace {

void PutOpus(std::string& out, std::string_view opus, bool last) {
    PutVarint(out, (opus.size() & 0x1FFF) | (last ? 0x2000 : 0));
    out.append(opus);
}

bool ReadVoice(std::string_view packet, bool withSession, Voice& out) {
    if (packet.empty()) return false;
    out.codec = static_cast<std::uint8_t>(packet[0]) >> 5;
    if (out.codec != 4) return false;
    size_t pos = 1;
    std::uint64_t session = 0, header = 0;
    if (withSession && !GetVarint(packet, pos, session)) return false;
    out.session = static_cast<std::uint32_t>(session);
    if (!GetVarint(packet, pos, out.sequence) || !GetVarint(packet, pos, header)) return false;
    size_t length = header & 0x1FFF;
    if (length > packet.size() - pos) return false;
    out.last = (header & 0x2000) != 0;
    out.opus.assign(packet.substr(pos, length));
    return true;
}

}  // namespace

std::string ServerVoice(std::uint32_t session, std::uint64_t sequence, std::string_view opus, bool last) {
    std::string p(1, static_cast<char>(0x80));
    PutVarint(p, session);
    PutVarint(p, sequence);
    PutOpus(p, opus, last);
    return p;
}

std::string ClientVoice(std::uint64_t sequence, std::string_view opus, bool last) {
    std::string p(1, static_cast<char>(0x80));
    PutVarint(p, sequence);
    PutOpus(p, opus, last);
    return p;
}

bool ParseClientVoice(std::string_view packet, Voice& out) { return ReadVoice(packet, false, out); }
bool ParseServerVoice(std::string_view packet, Voice& out) { return ReadVoice(packet, true, out); }

std::string VersionMsg(std::uint32_t version) {
    return Message().Uint(1, version).Bytes(2, "rig 1.0").Bytes(3, "Linux").data();
}

std::string CryptSetupMsg() {
    unsigned char bytes[48];
    RAND_bytes(bytes, sizeof bytes);
    auto part = [&](int i) { return std::string_view(reinterpret_cast<const char*>(bytes) + 16 * i, 16); };
    return Message().Bytes(1, part(0)).Bytes(2, part(1)).Bytes(3, part(2)).data();
}

std::string CodecVersionMsg() {
    return Message().Uint(1, 0x8000000b).Uint(2, 0).Bool(3, true).Bool(4, true).data();
}

std::string ChannelStateMsg(std::uint32_t id, std::uint32_t parent, const std::string& name, bool temporary) {
    Message m;
    m.Uint(1, id);
    if (id != 0) m.Uint(2, parent);
    m.Bytes(3, name);
    if (temporary) m.Bool(8, true);
    return m.data();
}

std::string ChannelRemoveMsg(std::uint32_t id) { return Message().Uint(1, id).data(); }

UserFields User(std::uint32_t session, const std::string& name, std::uint32_t channel) {
    UserFields u;
    u.session = session;
    u.name = name;
    u.channel = channel;
    return u;
}

std::string UserStateMsg(const UserFields& u) {
    Message m;
    m.Uint(1, u.session);
    if (u.name) m.Bytes(3, *u.name);
    if (u.channel) m.Uint(5, *u.channel);
    if (u.mute) m.Bool(6, *u.mute);
    if (u.deaf) m.Bool(7, *u.deaf);
    if (u.selfMute) m.Bool(9, *u.selfMute);
    if (u.selfDeaf) m.Bool(10, *u.selfDeaf);
    return m.data();
}

std::string UserRemoveMsg(std::uint32_t session, const std::string& reason) {
    Message m;
    m.Uint(1, session);
    if (!reason.empty()) m.Bytes(3, reason);
    return m.data();
}

std::string ServerSyncMsg(std::uint32_t session, std::uint32_t maxBandwidth, std::uint64_t permissions) {
    return Message().Uint(1, session).Uint(2, maxBandwidth).Bytes(3, "").Uint(4, permissions).data();
}

std::string ServerConfigMsg(std::uint32_t maxBandwidth, std::uint32_t maxUsers) {
    return Message().Uint(1, maxBandwidth).Bool(3, true).Uint(4, 5000).Uint(5, 131072).Uint(6, maxUsers).data();
}

std::string RejectMsg(std::uint32_t type, const std::string& reason) {
    return Message().Uint(1, type).Bytes(2, reason).data();
}

std::string PingMsg(std::uint64_t timestamp) { return Message().Uint(1, timestamp).data(); }

}  // namespace qmtest::voicewire
