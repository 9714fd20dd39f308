#include "outside/qm_nim/proto/wire.h"

namespace qmnim::proto {

void Writer::RawVarint(std::uint64_t value) {
    while (value >= 0x80) {
        out_ += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out_ += static_cast<char>(value);
}

void Writer::Tag(std::uint32_t field, WireType type) {
    RawVarint((static_cast<std::uint64_t>(field) << 3) | static_cast<std::uint64_t>(type));
}

void Writer::Uint(std::uint32_t field, std::uint64_t value) {
    Tag(field, WireType::Varint);
    RawVarint(value);
}

void Writer::Int(std::uint32_t field, std::int32_t value) {
    Tag(field, WireType::Varint);
    RawVarint(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
}

void Writer::Bytes(std::uint32_t field, std::string_view bytes) {
    Tag(field, WireType::Bytes);
    RawVarint(bytes.size());
    out_.append(bytes.data(), bytes.size());
}

bool ReadVarint(std::string_view data, size_t& pos, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
        if (pos >= data.size()) return false;
        auto byte = static_cast<std::uint8_t>(data[pos++]);
        if (shift == 63 && byte > 1) return false;  // beyond 64 bits
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

bool Reader::Next(Field& field) {
    if (!ok_ || pos_ >= data_.size()) return false;
    std::uint64_t tag = 0;
    if (!ReadVarint(data_, pos_, tag) || (tag >> 3) == 0 || (tag >> 3) > 0x1FFFFFFF) {
        ok_ = false;
        return false;
    }
    field = Field();
    field.number = static_cast<std::uint32_t>(tag >> 3);
    switch (tag & 7) {
    case 0:
        field.type = WireType::Varint;
        if (!ReadVarint(data_, pos_, field.value)) ok_ = false;
        break;
    case 1:
    case 5: {
        size_t width = (tag & 7) == 1 ? 8 : 4;
        field.type = width == 8 ? WireType::Fixed64 : WireType::Fixed32;
        if (data_.size() - pos_ < width) {
            ok_ = false;
            break;
        }
        for (size_t i = 0; i < width; ++i)
            field.value |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(data_[pos_ + i])) << (8 * i);
        pos_ += width;
        break;
    }
    case 2: {
        field.type = WireType::Bytes;
        std::uint64_t length = 0;
        if (!ReadVarint(data_, pos_, length) || length > data_.size() - pos_) {
            ok_ = false;
            break;
        }
        field.bytes = data_.substr(pos_, static_cast<size_t>(length));
        pos_ += static_cast<size_t>(length);
        break;
    }
    default:  // groups (3, 4) and unknown types: the schema here has none
        ok_ = false;
    }
    return ok_;
}

}  // namespace qmnim::proto
