#include "tests/crash/minidump_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/text.h"

namespace qmtest {
namespace {

// Little-endian reads with bounds checks.
class Bytes {
public:
    explicit Bytes(const std::string& data) : data_(data) {}
    bool Has(std::uint64_t offset, std::uint64_t size) const {
        return offset <= data_.size() && size <= data_.size() - offset;
    }
    std::uint64_t Read(std::uint64_t offset, int size) const {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = (value << 8) | static_cast<std::uint8_t>(data_[static_cast<size_t>(offset) + i]);
        return value;
    }
    std::uint16_t U16(std::uint64_t o) const { return static_cast<std::uint16_t>(Read(o, 2)); }
    std::uint32_t U32(std::uint64_t o) const { return static_cast<std::uint32_t>(Read(o, 4)); }
    std::uint64_t U64(std::uint64_t o) const { return Read(o, 8); }
    std::string Slice(std::uint64_t o, std::uint64_t n) const { return data_.substr(static_cast<size_t>(o), n); }

private:
    const std::string& data_;
};

constexpr std::uint32_t kContextSize = 1232;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// MINIDUMP_STRING: byte length, UTF-16LE text, two zero bytes.
bool ReadString(const Bytes& b, std::uint32_t rva, std::string& out) {
    if (!b.Has(rva, 4)) return false;
    std::uint32_t length = b.U32(rva);
    if (length % 2 != 0 || !b.Has(rva + 4, std::uint64_t(length) + 2)) return false;
    if (b.U16(rva + 4 + length) != 0) return false;
    std::u16string units;
    for (std::uint32_t i = 0; i < length; i += 2) units += static_cast<char16_t>(b.U16(rva + 4 + i));
    out = platform::WideToUtf8(platform::Utf16ToWide(units));
    return true;
}

}  // namespace

bool Minidump::Fail(const std::string& why) {
    error_ = why;
    return false;
}

bool Minidump::Parse(const std::string& data) {
    Bytes b(data);
    if (!b.Has(0, 32)) return Fail("shorter than a header");
    if (b.U32(0) != 0x504d444d) return Fail("no MDMP signature");
    if ((b.U32(4) & 0xffff) != 0xa793) return Fail("unknown format version");
    std::uint32_t count = b.U32(8);
    std::uint32_t directory = b.U32(12);
    timeDateStamp = b.U32(20);
    if (!b.Has(directory, std::uint64_t(count) * 12)) return Fail("directory out of bounds");

    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> located;  // type -> (size, rva)
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t entry = directory + std::uint64_t(i) * 12;
        std::uint32_t type = b.U32(entry), size = b.U32(entry + 4), rva = b.U32(entry + 8);
        if (!b.Has(rva, size)) return Fail("stream " + std::to_string(type) + " out of bounds");
        if (!located.emplace(type, std::make_pair(size, rva)).second)
            return Fail("stream " + std::to_string(type) + " twice");
        streams[type] = b.Slice(rva, size);
    }

    auto readContext = [&](std::uint32_t size, std::uint32_t rva, DumpThread& t) {
        if (size != kContextSize || !b.Has(rva, size)) return false;
        t.contextFlags = b.U32(rva + 48);
        t.rsp = b.U64(rva + 120 + 4 * 8);
        t.rbp = b.U64(rva + 120 + 5 * 8);
        t.rip = b.U64(rva + 248);
        return true;
    };

    if (auto it = located.find(7); it != located.end()) {  // system information
        auto [size, rva] = it->second;
        if (size < 56) return Fail("short system information");
        architecture = b.U16(rva);
        processors = static_cast<std::uint8_t>(b.Read(rva + 6, 1));
        platformId = b.U32(rva + 20);
        if (!ReadString(b, b.U32(rva + 24), osDescription)) return Fail("bad OS description string");
    }
    if (auto it = located.find(15); it != located.end()) {  // misc information
        auto [size, rva] = it->second;
        if (size < 24 || b.U32(rva) != size) return Fail("bad misc information");
        if (b.U32(rva + 4) & 1) processId = b.U32(rva + 8);
    }
    // A list stream: a count, then that many entries of `entry` bytes, each
    // read by `read` at its offset.
    auto readList = [&](std::uint32_t type, std::uint64_t entry, const std::string& name, auto&& read) {
        auto it = located.find(type);
        if (it == located.end()) return true;
        auto [size, rva] = it->second;
        if (size < 4) return Fail("short " + name);
        std::uint32_t n = b.U32(rva);
        if (size != 4 + std::uint64_t(n) * entry) return Fail(name + " size");
        for (std::uint32_t i = 0; i < n; ++i)
            if (!read(rva + 4 + std::uint64_t(i) * entry)) return false;
        return true;
    };
    if (!readList(3, 48, "thread list", [&](std::uint64_t e) {
        DumpThread t;
        t.id = b.U32(e);
        t.teb = b.U64(e + 16);
        t.stackStart = b.U64(e + 24);
        t.stackSize = b.U32(e + 32);
        if (!b.Has(b.U32(e + 36), t.stackSize)) return Fail("stack out of bounds");
        if (!readContext(b.U32(e + 40), b.U32(e + 44), t)) return Fail("bad thread context");
        threads.push_back(t);
        return true;
    }))
        return false;
    if (!readList(4, 108, "module list", [&](std::uint64_t e) {
        DumpModule m;
        m.base = b.U64(e);
        m.size = b.U32(e + 8);
        if (!ReadString(b, b.U32(e + 20), m.path)) return Fail("bad module name");
        std::uint64_t v = e + 24;  // fixed file information
        if (b.U32(v) == 0xfeef04bd) {
            std::uint32_t ms = b.U32(v + 8), ls = b.U32(v + 12);
            m.fileVersion = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
                            std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
        }
        std::uint32_t cvSize = b.U32(e + 76), cvRva = b.U32(e + 80);
        if (cvSize > 0) {
            if (cvSize < 4 || !b.Has(cvRva, cvSize)) return Fail("bad CodeView record");
            m.cvSignature = b.U32(cvRva);
            m.buildId = Hex(b.Slice(cvRva + 4, cvSize - 4));
        }
        modules.push_back(m);
        return true;
    }))
        return false;
    if (!readList(5, 16, "memory list", [&](std::uint64_t e) {
        std::uint64_t start = b.U64(e);
        std::uint32_t length = b.U32(e + 8), at = b.U32(e + 12);
        if (!b.Has(at, length)) return Fail("memory range out of bounds");
        for (const DumpMemory& other : memory)
            if (start < other.start + other.bytes.size() && other.start < start + length)
                return Fail("overlapping memory ranges");
        memory.push_back({start, b.Slice(at, length)});
        return true;
    }))
        return false;
    if (auto it = located.find(6); it != located.end()) {  // exception
        auto [size, rva] = it->second;
        if (size < 168) return Fail("short exception stream");
        DumpException x;
        x.threadId = b.U32(rva);
        x.code = b.U32(rva + 8);
        x.flags = static_cast<std::int32_t>(b.U32(rva + 12));
        x.address = b.U64(rva + 24);
        DumpThread context;
        if (!readContext(b.U32(rva + 160), b.U32(rva + 164), context)) return Fail("bad exception context");
        x.rip = context.rip;
        exception = x;
    }
    return true;
}

const DumpThread* Minidump::Thread(std::uint32_t id) const {
    for (const auto& t : threads)
        if (t.id == id) return &t;
    return nullptr;
}

const DumpModule* Minidump::ModuleAt(std::uint64_t address) const {
    for (const auto& m : modules)
        if (address >= m.base && address - m.base < m.size) return &m;
    return nullptr;
}

const DumpModule* Minidump::ModuleNamed(const std::string& fileName) const {
    for (const auto& m : modules) {
        size_t slash = m.path.rfind('/');
        if (m.path.substr(slash == std::string::npos ? 0 : slash + 1) == fileName) return &m;
    }
    return nullptr;
}

bool Minidump::ReadMemory(std::uint64_t address, size_t size, std::string& out) const {
    for (const auto& m : memory) {
        if (address >= m.start && address - m.start + size <= m.bytes.size()) {
            out = m.bytes.substr(static_cast<size_t>(address - m.start), size);
            return true;
        }
    }
    return false;
}

std::string ElfBuildId(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes b(data);
    if (!b.Has(0, 64) || data.compare(0, 4, "\x7f" "ELF") != 0 || data[4] != 2) return "";
    std::uint64_t phoff = b.U64(32);
    std::uint16_t phentsize = b.U16(54), phnum = b.U16(56);
    for (std::uint16_t i = 0; i < phnum; ++i) {
        std::uint64_t ph = phoff + std::uint64_t(i) * phentsize;
        if (!b.Has(ph, 56) || b.U32(ph) != 4) continue;  // PT_NOTE
        std::uint64_t offset = b.U64(ph + 8), size = b.U64(ph + 32), align = b.U64(ph + 48) == 8 ? 8 : 4;
        if (!b.Has(offset, size)) continue;
        std::uint64_t pos = offset;
        while (pos + 12 <= offset + size) {
            std::uint32_t nameSize = b.U32(pos), descSize = b.U32(pos + 4), type = b.U32(pos + 8);
            std::uint64_t desc = pos + 12 + (nameSize + align - 1) / align * align;
            if (!b.Has(desc, descSize)) break;
            if (type == 3 && nameSize == 4 && b.Slice(pos + 12, 4) == std::string("GNU\0", 4))
                return Hex(b.Slice(desc, descSize));
            pos = desc + (descSize + align - 1) / align * align;
        }
    }
    return "";
}

}  // namespace qmtest
