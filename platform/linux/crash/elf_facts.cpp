#include "platform/linux/crash/elf_facts.h"

#include <elf.h>

#include <cstring>

#include "platform/linux/crash/raw_memory.h"

namespace platform {
namespace crash {
namespace {

constexpr std::uint32_t kQmVersionNote = 1;  // owner "QM": file and product version, 4 x 16 bits each

bool NameIs(const std::uint8_t* name, std::uint32_t nameSize, const char* expected) {
    size_t n = std::strlen(expected) + 1;
    return nameSize == n && std::memcmp(name, expected, n) == 0;
}

}  // namespace

void ScanNotes(const std::uint8_t* notes, size_t size, size_t align, ElfFacts& facts) {
    size_t pos = 0;
    while (pos + 12 <= size) {
        std::uint32_t nameSize, descSize, type;
        std::memcpy(&nameSize, notes + pos, 4);
        std::memcpy(&descSize, notes + pos + 4, 4);
        std::memcpy(&type, notes + pos + 8, 4);
        if (nameSize > size || descSize > size) return;
        size_t nameAt = pos + 12;
        size_t descAt = nameAt + RoundUp(nameSize, align);
        if (descAt > size || descSize > size - descAt) return;
        const std::uint8_t* name = notes + nameAt;
        const std::uint8_t* desc = notes + descAt;
        if (type == NT_GNU_BUILD_ID && NameIs(name, nameSize, "GNU") && facts.buildIdLength == 0 &&
            descSize <= sizeof(facts.buildId)) {
            std::memcpy(facts.buildId, desc, descSize);
            facts.buildIdLength = descSize;
        } else if (type == kQmVersionNote && NameIs(name, nameSize, "QM") && descSize >= 16 && !facts.hasVersion) {
            std::memcpy(facts.fileVersion, desc, 8);
            std::memcpy(facts.productVersion, desc + 8, 8);
            facts.hasVersion = true;
        }
        pos = descAt + RoundUp(descSize, align);
    }
}

bool ReadElfFacts(const ProcessMemory& memory, std::uint64_t base, ElfFacts& facts) {
    std::memset(&facts, 0, sizeof(facts));
    Elf64_Ehdr header;
    if (!memory.Read(base, &header, sizeof(header))) return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return false;
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) return true;

    constexpr size_t kMaxHeaders = 64;
    Elf64_Phdr headers[kMaxHeaders];
    size_t n = header.e_phnum < kMaxHeaders ? header.e_phnum : kMaxHeaders;
    if (!memory.Read(base + header.e_phoff, headers, n * sizeof(Elf64_Phdr))) return true;

    // Load bias: where the segment holding file offset 0 was placed.
    std::uint64_t bias = base;
    for (size_t i = 0; i < n; ++i) {
        if (headers[i].p_type == PT_LOAD) {
            bias = base - ((headers[i].p_vaddr - headers[i].p_offset) & ~std::uint64_t(kPageBytes - 1));
            break;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const Elf64_Phdr& ph = headers[i];
        if (ph.p_type != PT_NOTE || ph.p_memsz == 0) continue;
        std::uint8_t notes[4096];
        size_t size = ph.p_memsz < sizeof(notes) ? static_cast<size_t>(ph.p_memsz) : sizeof(notes);
        if (!memory.Read(bias + ph.p_vaddr, notes, size)) continue;
        ScanNotes(notes, size, ph.p_align == 8 ? 8 : 4, facts);
    }
    return true;
}

}  // namespace crash
}  // namespace platform
