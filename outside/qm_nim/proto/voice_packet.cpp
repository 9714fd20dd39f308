#include "outside/qm_nim/proto/voice_packet.h"

namespace qmnim::proto {

void WriteVarint(std::string& out, std::int64_t value) {
    auto put = [&out](std::uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    std::uint64_t v = static_cast<std::uint64_t>(value);
    if (value < 0) {
        std::uint64_t magnitude = ~v;  // sent as its complement
        if (magnitude <= 0x3) {
            out += static_cast<char>(0xFC | magnitude);
            return;
        }
        out += static_cast<char>(0xF8);
        WriteVarint(out, static_cast<std::int64_t>(magnitude));
        return;
    }
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
    } else if (v < 0x100000000ull) {
        out += static_cast<char>(0xF0);
        put(v, 4);
    } else {
        out += static_cast<char>(0xF4);
        put(v, 8);
    }
}

bool ReadVarint(std::string_view data, size_t& pos, std::int64_t& value) {
    auto take = [&](int bytes, std::uint64_t& v) {
        if (data.size() - pos < static_cast<size_t>(bytes)) return false;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<std::uint8_t>(data[pos++]);
        return true;
    };
    if (pos >= data.size()) return false;
    std::uint8_t b = static_cast<std::uint8_t>(data[pos++]);
    std::uint64_t v = 0;
    if ((b & 0x80) == 0x00) {
        value = b & 0x7F;
        return true;
    }
    if ((b & 0xC0) == 0x80) {
        v = b & 0x3F;
        if (!take(1, v)) return false;
    } else if ((b & 0xE0) == 0xC0) {
        v = b & 0x1F;
        if (!take(2, v)) return false;
    } else if ((b & 0xF0) == 0xE0) {
        v = b & 0x0F;
        if (!take(3, v)) return false;
    } else if ((b & 0xFC) == 0xF0) {
        if (!take(4, v)) return false;
    } else if ((b & 0xFC) == 0xF4) {
        if (!take(8, v)) return false;
        if (v > static_cast<std::uint64_t>(INT64_MAX)) return false;
    } else if ((b & 0xFC) == 0xF8) {
        std::int64_t inner = 0;
        // One level of negation only: a chain of them is not a number any sender writes.
        if (pos < data.size() && (static_cast<std::uint8_t>(data[pos]) & 0xFC) == 0xF8) return false;
        if (!ReadVarint(data, pos, inner) || inner < 0) return false;
        value = ~inner;
        return true;
    } else {  // 111111xx
        value = ~static_cast<std::int64_t>(b & 0x03);
        return true;
    }
    value = static_cast<std::int64_t>(v);
    return true;
}

std::string BuildVoicePacket(std::uint64_t sequence, std::string_view opus, bool last) {
    if (opus.size() > kOpusLengthMask) return {};
    std::string out;
    out.reserve(opus.size() + 16);
    out += static_cast<char>((kCodecOpus << 5) | kTargetNormal);
    WriteVarint(out, static_cast<std::int64_t>(sequence));
    WriteVarint(out, static_cast<std::int64_t>(opus.size() | (last ? kOpusTerminator : 0)));
    out.append(opus.data(), opus.size());
    if (out.size() > kMaxVoicePacket) return {};
    return out;
}

namespace {

bool ParseVoice(std::string_view packet, bool withSession, ReceivedVoice& out) {
    out = ReceivedVoice();
    if (packet.empty()) return false;
    auto header = static_cast<std::uint8_t>(packet[0]);
    out.codec = header >> 5;
    out.target = header & 0x1F;
    if (out.codec != kCodecOpus) return false;
    size_t pos = 1;
    std::int64_t v = 0;
    if (withSession) {
        if (!ReadVarint(packet, pos, v) || v < 0 || v > UINT32_MAX) return false;
        out.session = static_cast<std::uint32_t>(v);
    }
    if (!ReadVarint(packet, pos, v) || v < 0) return false;
    out.sequence = static_cast<std::uint64_t>(v);
    if (!ReadVarint(packet, pos, v) || v < 0) return false;
    auto length = static_cast<size_t>(v & kOpusLengthMask);
    out.last = (v & kOpusTerminator) != 0;
    if (packet.size() - pos < length) return false;
    out.opus = packet.substr(pos, length);
    return true;  // a position trailer may follow; it is not used
}

}  // namespace

bool ParseServerVoice(std::string_view packet, ReceivedVoice& out) { return ParseVoice(packet, true, out); }

std::string BuildLoopbackMark() {
    std::string out(1, static_cast<char>((kCodecOpus << 5) | kTargetLoopback));
    WriteVarint(out, 0);
    WriteVarint(out, kOpusTerminator);  // no sound, and the end of it
    return out;
}

std::string BuildUdpPing(std::uint64_t timestamp) {
    std::string out(1, static_cast<char>(kCodecPing << 5));
    WriteVarint(out, static_cast<std::int64_t>(timestamp & INT64_MAX));
    return out;
}

bool ParseUdpPing(std::string_view packet, std::uint64_t& timestamp) {
    if (packet.empty() || (static_cast<std::uint8_t>(packet[0]) >> 5) != kCodecPing) return false;
    size_t pos = 1;
    std::int64_t v = 0;
    if (!ReadVarint(packet, pos, v) || v < 0) return false;
    timestamp = static_cast<std::uint64_t>(v);
    return true;
}
bool ParseClientVoice(std::string_view packet, ReceivedVoice& out) { return ParseVoice(packet, false, out); }

}  // namespace qmnim::proto
