#include "bridge/wire_format.h"

#include <cstring>

namespace kxcef {

const char kMainDocumentMessage[] = "kxcef:main-document";
const char kFrameDocumentMessage[] = "kxcef:frame-document";
const char kUserActionMessage[] = "kxcef:user-action";
const char kLaunchIntentMessage[] = "kxcef:launch-intent";

namespace {

constexpr std::uint8_t kVersion = 1;

class Writer {
public:
    std::string bytes;

    void U8(std::uint8_t v) { bytes.push_back(static_cast<char>(v)); }
    void Fixed(std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    void Text(const std::string& s) {
        Fixed(s.size(), 4);
        bytes += s;
    }
    void List(const CefListValue& list, int depth) {
        Fixed(list.GetSize(), 4);
        for (size_t i = 0; i < list.GetSize(); ++i) Entry(list, i, depth);
    }
    void Entry(const CefListValue& list, size_t i, int depth) {
        switch (list.GetType(i)) {
            case VTYPE_BOOL:
                U8('b');
                U8(list.GetBool(i) ? 1 : 0);
                return;
            case VTYPE_INT:
                U8('i');
                Fixed(static_cast<std::uint32_t>(list.GetInt(i)), 4);
                return;
            case VTYPE_DOUBLE: {
                double d = list.GetDouble(i);
                std::uint64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                U8('d');
                Fixed(bits, 8);
                return;
            }
            case VTYPE_STRING:
                U8('s');
                Text(*list.StringUtf8(i));
                return;
            case VTYPE_LIST: {
                CefRefPtr<CefListValue> child = list.GetList(i);
                if (child && depth < kMaxListDepth) {
                    U8('l');
                    List(*child, depth + 1);
                    return;
                }
                break;
            }
            default:
                break;
        }
        U8('n');
    }
};

// Every read is bounds-checked; a failed read poisons the reader.
class Reader {
public:
    Reader(const std::uint8_t* data, size_t size, const MessageLimits& limits)
        : p_(data), end_(data + size), limits_(limits) {}

    bool ok() const { return ok_; }
    bool AtEnd() const { return p_ == end_; }

    std::uint64_t Fixed(int size) {
        if (!Need(static_cast<size_t>(size))) return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < size; ++i) v |= static_cast<std::uint64_t>(p_[i]) << (8 * i);
        p_ += size;
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Fixed(1)); }
    // `counted`: the text is page content, held to the message's text limit;
    // otherwise it is one of the message's own fields, which are short.
    bool Text(std::string& out, bool counted = true) {
        constexpr size_t kMaxFieldBytes = 4096;
        size_t length = static_cast<size_t>(Fixed(4));
        if (!ok_ || (counted ? !SpendText(length) : length > kMaxFieldBytes) || !Need(length)) return Fail();
        out.assign(reinterpret_cast<const char*>(p_), length);
        p_ += length;
        return true;
    }
    bool List(CefListValue& list, int depth) {
        size_t count = static_cast<size_t>(Fixed(4));
        // Every entry takes at least one byte: a count beyond the bytes left is a lie.
        if (!ok_ || count > static_cast<size_t>(end_ - p_) || !SpendEntries(count)) return Fail();
        list.SetSize(count);
        for (size_t i = 0; i < count && ok_; ++i) Entry(list, i, depth);
        return ok_;
    }

private:
    void Entry(CefListValue& list, size_t i, int depth) {
        switch (U8()) {
            case 'n':
                return;  // SetSize left a null entry
            case 'b':
                list.SetBool(i, U8() != 0);
                return;
            case 'i':
                list.SetInt(i, static_cast<int>(static_cast<std::uint32_t>(Fixed(4))));
                return;
            case 'd': {
                std::uint64_t bits = Fixed(8);
                double d;
                std::memcpy(&d, &bits, sizeof d);
                list.SetDouble(i, d);
                return;
            }
            case 's': {
                std::string s;
                if (Text(s)) list.SetStringUtf8(i, std::move(s));
                return;
            }
            case 'l': {
                if (depth >= kMaxListDepth) {
                    Fail();
                    return;
                }
                CefRefPtr<CefListValue> child = CefListValue::Create();
                if (List(*child, depth + 1)) list.SetList(i, child);
                return;
            }
            default:
                Fail();
        }
    }
    bool Need(size_t n) {
        if (ok_ && static_cast<size_t>(end_ - p_) >= n) return true;
        return Fail();
    }
    bool SpendEntries(size_t n) {
        if (n > limits_.entries - entries_) return false;
        entries_ += n;
        return true;
    }
    bool SpendText(size_t n) {
        if (n > limits_.textBytes - text_) return false;
        text_ += n;
        return true;
    }
    bool Fail() {
        ok_ = false;
        return false;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    const MessageLimits limits_;
    size_t entries_ = 0;
    size_t text_ = 0;
    bool ok_ = true;
};

// What a list spends of the limits, as the reader counts it.
bool Spend(const CefListValue& list, int depth, size_t& entries, size_t& text, const MessageLimits& limits) {
    if (list.GetSize() > limits.entries - entries) return false;
    entries += list.GetSize();
    for (size_t i = 0; i < list.GetSize(); ++i) {
        if (list.GetType(i) == VTYPE_STRING) {
            size_t n = list.StringUtf8(i)->size();
            if (n > limits.textBytes - text) return false;
            text += n;
        } else if (list.GetType(i) == VTYPE_LIST && depth < kMaxListDepth) {
            CefRefPtr<CefListValue> child = list.GetList(i);
            if (child && !Spend(*child, depth + 1, entries, text, limits)) return false;
        }
    }
    return true;
}

}  // namespace

bool FitsLimits(const CefListValue& list, const MessageLimits& limits) {
    size_t entries = 0, text = 0;
    return Spend(list, 0, entries, text, limits);
}

GVariant* EncodeMessageParams(const CefListValue& list, const MessageExtras& extras) {
    auto* writer = new Writer();
    writer->U8(kVersion);
    writer->Fixed(extras.document, 8);
    writer->Text(extras.origin);
    writer->List(list, 0);
    // The variant takes the bytes over without a copy.
    return g_variant_ref_sink(g_variant_new_from_data(
        G_VARIANT_TYPE_BYTESTRING, writer->bytes.data(), writer->bytes.size(), TRUE,
        [](gpointer w) { delete static_cast<Writer*>(w); }, writer));
}

bool DecodeMessageParams(GVariant* params, CefListValue& list, MessageExtras* extras, const MessageLimits& limits) {
    list.Clear();
    if (!params || !g_variant_is_of_type(params, G_VARIANT_TYPE_BYTESTRING)) return false;
    gsize size = 0;
    const void* data = g_variant_get_fixed_array(params, &size, 1);
    Reader reader(static_cast<const std::uint8_t*>(data), data ? size : 0, limits);
    if (reader.U8() != kVersion) return false;
    MessageExtras read;
    read.document = reader.Fixed(8);
    if (!reader.Text(read.origin, false) || !reader.List(list, 0) || !reader.AtEnd()) {
        list.Clear();
        return false;
    }
    if (extras) *extras = std::move(read);
    return true;
}

}  // namespace kxcef
