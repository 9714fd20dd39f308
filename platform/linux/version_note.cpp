#include "platform/version_note.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/file_stamp.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::uint32_t kVersionNote = 1;
constexpr std::uint32_t kStringNote = 2;
constexpr size_t kMaxNoteBytes = 1 << 20;

// Reads `size` bytes at `offset`; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, size_t size, std::string& out)>;

// Calls `visit` with the descriptor of every "QM" note of the given type.
bool ForEachNote(const ReadAt& read, std::uint32_t type, const std::function<void(const std::string&)>& visit) {
    std::string ident;
    if (!read(0, EI_NIDENT, ident) || std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) return false;
    bool is64 = ident[EI_CLASS] == ELFCLASS64;
    if (!is64 && ident[EI_CLASS] != ELFCLASS32) return false;
    if (ident[EI_DATA] != ELFDATA2LSB) return false;

    std::uint64_t shoff;
    std::uint16_t shentsize, shnum;
    std::string hdr;
    if (is64) {
        if (!read(0, sizeof(Elf64_Ehdr), hdr)) return false;
        Elf64_Ehdr eh;
        std::memcpy(&eh, hdr.data(), sizeof(eh));
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum;
        if (shentsize < sizeof(Elf64_Shdr)) return false;
    } else {
        if (!read(0, sizeof(Elf32_Ehdr), hdr)) return false;
        Elf32_Ehdr eh;
        std::memcpy(&eh, hdr.data(), sizeof(eh));
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum;
        if (shentsize < sizeof(Elf32_Shdr)) return false;
    }
    if (shoff == 0 || shnum == 0 || shnum > 4096) return false;

    bool found = false;
    for (std::uint16_t i = 0; i < shnum; ++i) {
        std::string sh;
        if (!read(shoff + static_cast<std::uint64_t>(i) * shentsize, is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr), sh))
            return found;
        std::uint32_t stype;
        std::uint64_t off, size;
        if (is64) {
            Elf64_Shdr s;
            std::memcpy(&s, sh.data(), sizeof(s));
            stype = s.sh_type, off = s.sh_offset, size = s.sh_size;
        } else {
            Elf32_Shdr s;
            std::memcpy(&s, sh.data(), sizeof(s));
            stype = s.sh_type, off = s.sh_offset, size = s.sh_size;
        }
        if (stype != SHT_NOTE || size == 0 || size > kMaxNoteBytes) continue;
        std::string notes;
        if (!read(off, static_cast<size_t>(size), notes)) continue;
        size_t pos = 0;
        while (pos + 12 <= notes.size()) {
            std::uint32_t namesz, descsz, ntype;
            std::memcpy(&namesz, notes.data() + pos, 4);
            std::memcpy(&descsz, notes.data() + pos + 4, 4);
            std::memcpy(&ntype, notes.data() + pos + 8, 4);
            size_t nameOff = pos + 12;
            size_t descOff = nameOff + ((static_cast<size_t>(namesz) + 3) & ~size_t(3));
            size_t next = descOff + ((static_cast<size_t>(descsz) + 3) & ~size_t(3));
            if (namesz > notes.size() || descsz > notes.size() || next > notes.size() || descOff > notes.size())
                break;
            if (namesz == 3 && std::memcmp(notes.data() + nameOff, "QM", 3) == 0 && ntype == type) {
                visit(notes.substr(descOff, descsz));
                found = true;
            }
            pos = next;
        }
    }
    return found;
}

ReadAt FileReader(FILE* f) {
    return [f](std::uint64_t offset, size_t size, std::string& out) {
        out.assign(size, '\0');
        if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
        return std::fread(&out[0], 1, size, f) == size;
    };
}

ReadAt BufferReader(const std::string& bytes) {
    return [&bytes](std::uint64_t offset, size_t size, std::string& out) {
        if (offset > bytes.size() || size > bytes.size() - offset) return false;
        out = bytes.substr(static_cast<size_t>(offset), size);
        return true;
    };
}

bool DecodeVersion(const ReadAt& read, VersionInfo& info) {
    bool ok = false;
    ForEachNote(read, kVersionNote, [&](const std::string& desc) {
        if (ok || desc.size() < 16) return;
        std::uint16_t w[8];
        std::memcpy(w, desc.data(), 16);
        for (int i = 0; i < 4; ++i) info.file[i] = w[i], info.product[i] = w[4 + i];
        ok = true;
    });
    return ok;
}

void DecodeStrings(const ReadAt& read, std::map<std::uint32_t, std::wstring>& table) {
    ForEachNote(read, kStringNote, [&](const std::string& desc) {
        size_t pos = 0;
        while (pos + 8 <= desc.size()) {
            std::uint32_t id, len;
            std::memcpy(&id, desc.data() + pos, 4);
            std::memcpy(&len, desc.data() + pos + 4, 4);
            if (len > desc.size() - pos - 8) break;
            table.emplace(id, Utf8ToWide(desc.substr(pos + 8, len)));
            pos += 8 + ((static_cast<size_t>(len) + 3) & ~size_t(3));
        }
    });
}

std::wstring Format(const std::array<std::uint16_t, 4>& v) {
    return std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." + std::to_wstring(v[2]) + L"." +
           std::to_wstring(v[3]);
}

// Notes are read from binaries only: a FIFO or a device in a module's place
// must not stall the reader, and nothing larger than a binary is read.
constexpr std::size_t kMaxBinaryBytes = std::size_t{1} << 30;

struct VersionRead {
    bool ok = false;
    VersionInfo info;
};

// Each file is read once per change: callers ask for the version on every
// page request.
VersionRead LoadVersion(const std::wstring& path, bool exists) {
    VersionRead r;
    if (!exists) return r;
    if (FILE* f = OpenRegularFileForReading(path, kMaxBinaryBytes)) {
        r.ok = DecodeVersion(FileReader(f), r.info);
        std::fclose(f);
    }
    return r;
}

std::map<std::uint32_t, std::wstring> LoadStrings(const std::wstring& path, bool exists) {
    std::map<std::uint32_t, std::wstring> table;
    if (!exists) return table;
    if (FILE* f = OpenRegularFileForReading(path, kMaxBinaryBytes)) {
        DecodeStrings(FileReader(f), table);
        std::fclose(f);
    }
    return table;
}

FileCache<VersionRead>& VersionCache() {
    static auto* cache = new FileCache<VersionRead>(&LoadVersion);  // lives until the process ends
    return *cache;
}

FileCache<std::map<std::uint32_t, std::wstring>>& StringCache() {
    static auto* cache = new FileCache<std::map<std::uint32_t, std::wstring>>(&LoadStrings);
    return *cache;
}

}  // namespace

bool ReadVersionNote(const std::wstring& path, VersionInfo& info) {
    VersionRead r = VersionCache().Get(path);
    if (r.ok) info = r.info;
    return r.ok;
}

std::wstring FileVersionString(const std::wstring& path) {
    VersionInfo v;
    return ReadVersionNote(path, v) ? Format(v.file) : std::wstring();
}

std::wstring ProductVersionString(const std::wstring& path) {
    VersionInfo v;
    return ReadVersionNote(path, v) ? Format(v.product) : std::wstring();
}

bool ReadStringResource(const std::wstring& path, std::uint32_t id, std::wstring& text) {
    std::map<std::uint32_t, std::wstring> table = StringCache().Get(path);
    auto it = table.find(id);
    if (it == table.end()) return false;
    text = it->second;
    return true;
}

bool ParseVersionNote(const std::string& elfBytes, VersionInfo& info) {
    return DecodeVersion(BufferReader(elfBytes), info);
}

bool ParseStringTable(const std::string& elfBytes, std::map<std::uint32_t, std::wstring>& table) {
    DecodeStrings(BufferReader(elfBytes), table);
    return !table.empty();
}

}  // namespace platform
