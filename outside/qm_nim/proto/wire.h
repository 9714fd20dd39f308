// The protocol-buffer wire format (proto2) of the control messages: varints,
// length-delimited and fixed-size fields. Reading trusts nothing: every length
// is checked against what is left, and a malformed field ends the message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmnim::proto {

enum class WireType : std::uint8_t { Varint = 0, Fixed64 = 1, Bytes = 2, Fixed32 = 5 };

// Builds one message, field by field, in the order the calls come.
class Writer {
public:
    void Uint(std::uint32_t field, std::uint64_t value);
    // int32 as proto2 writes it: negative values sign-extended to ten bytes.
    void Int(std::uint32_t field, std::int32_t value);
    void Bool(std::uint32_t field, bool value) { Uint(field, value ? 1 : 0); }
    void Bytes(std::uint32_t field, std::string_view bytes);
    // A nested message, already encoded.
    void Message(std::uint32_t field, const Writer& nested) { Bytes(field, nested.data()); }

    const std::string& data() const { return out_; }
    std::string Take() { return std::move(out_); }

private:
    void Tag(std::uint32_t field, WireType type);
    void RawVarint(std::uint64_t value);
    std::string out_;
};

struct Field {
    std::uint32_t number = 0;
    WireType type = WireType::Varint;
    std::uint64_t value = 0;  // varint and fixed fields
    std::string_view bytes;   // length-delimited fields (points into the message)
};

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}
    // The next field; false at the end and on malformed input (then ok() is false).
    bool Next(Field& field);
    bool ok() const { return ok_; }

private:
    std::string_view data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// One base-128 varint at `pos` (at most ten bytes); advances `pos`.
bool ReadVarint(std::string_view data, size_t& pos, std::uint64_t& value);

}  // namespace qmnim::proto
