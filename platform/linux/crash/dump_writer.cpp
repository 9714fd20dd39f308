// The minidump writer proper. It runs in a process of its own, a copy of the
// crashed one, so it must not touch the heap or any lock the crashed process
// may have held: memory comes from mmap, everything else is a system call.
#include <sys/syscall.h>
#include <ucontext.h>

#include <cstring>

#include "platform/linux/crash/cpu_context.h"
#include "platform/linux/crash/crash_context.h"
#include "platform/linux/crash/elf_facts.h"
#include "platform/linux/crash/proc_maps.h"
#include "platform/linux/crash/process_memory.h"
#include "platform/linux/crash/raw_memory.h"
#include "platform/linux/crash/sys_calls.h"
#include "platform/linux/crash/thread_stopper.h"

namespace platform {
namespace crash {
namespace {

constexpr size_t kMaxStackBytes = 256 * 1024;      // per thread, from the stack pointer up
constexpr std::uint64_t kRedZone = 128;            // below the stack pointer, still the thread's
constexpr std::uint64_t kGuardGapBytes = 1 << 20;  // the kernel's gap below a growing stack
constexpr std::uint64_t kCodeBytesAround = 256;    // each side of the crashing instruction
constexpr size_t kMaxStreams = 16;
constexpr size_t kStreamChunk = 64 * 1024;

// ---------------------------------------------------------------------------
// Strings: MINIDUMP_STRING is a byte length and UTF-16 text with a terminator.

// Next code point of UTF-8 text; malformed bytes become U+FFFD.
std::uint32_t NextCodePoint(const char* text, size_t length, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<std::uint8_t>(text[k]); };
    std::uint8_t lead = byte(i++);
    if (lead < 0x80) return lead;
    int extra = lead < 0xC2 ? -1 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) > length) return 0xFFFD;
    std::uint32_t cp = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if ((byte(i) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (byte(i++) & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    return cp;
}

std::uint32_t AppendString(DumpBuffer& dump, const char* text, size_t length) {
    size_t units = 0;
    for (size_t i = 0; i < length;) units += NextCodePoint(text, length, i) >= 0x10000 ? 2 : 1;
    std::uint32_t at = dump.Allocate(4 + units * 2 + 2);
    if (!at) return 0;
    std::uint32_t bytes = static_cast<std::uint32_t>(units * 2);
    std::memcpy(dump.At<std::uint8_t>(at), &bytes, 4);
    auto* out = dump.At<std::uint8_t>(at + 4);
    auto put = [&out](std::uint32_t unit) {
        *out++ = static_cast<std::uint8_t>(unit);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    };
    for (size_t i = 0; i < length;) {
        std::uint32_t cp = NextCodePoint(text, length, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 | (cp >> 10));
            put(0xDC00 | (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return at;
}

// ---------------------------------------------------------------------------
// The dump.

class MinidumpBuilder {
public:
    MinidumpBuilder(const CrashContext& crash, const SystemFacts& facts)
        : crash_(crash), facts_(facts), memory_(crash.pid) {}

    bool Build(int fd) {
        dump_.Allocate(sizeof(MdHeader));  // offset 0
        if (dump_.size() != sizeof(MdHeader)) return false;

        threads_.Stop(crash_.pid, crash_.tid);
        ReadMaps();
        if (!ranges_.Allocate(threads_.count() + 8)) return false;

        WriteSystemInfo();
        WriteMiscInfo();
        MdLocation crashContext = WriteThreadList();
        threads_.Release();
        if (crash_.signo != 0) WriteException(crashContext);
        WriteModuleList();
        WriteCodeAroundCrash();
        WriteMemoryList();
        WriteFileStream(kMdLinuxCpuInfo, "/proc/cpuinfo");
        WriteProcStream(kMdLinuxProcStatus, "status");
        WriteFileStream(kMdLinuxLsbRelease, facts_.releaseFile);
        WriteProcStream(kMdLinuxCmdLine, "cmdline");
        WriteProcStream(kMdLinuxEnviron, "environ");
        WriteProcStream(kMdLinuxAuxv, "auxv");
        if (maps_.size() > 0) {
            std::uint32_t at = dump_.Append(maps_.data(), maps_.size());
            if (at) AddStream(kMdLinuxMaps, {static_cast<std::uint32_t>(maps_.size()), at});
        }

        std::uint32_t directory = dump_.Append(streams_, streamCount_ * sizeof(MdDirectory));
        if (!directory) return false;
        auto* header = dump_.At<MdHeader>(0);
        header->signature = kMdSignature;
        header->version = kMdVersion;
        header->numberOfStreams = static_cast<std::uint32_t>(streamCount_);
        header->streamDirectoryRva = directory;
        header->checkSum = 0;
        header->timeDateStamp = static_cast<std::uint32_t>(crash_.utcSeconds);
        header->flags = 0;  // the normal dump type
        return WriteAll(fd, dump_.data(), dump_.size());
    }

private:
    void AddStream(std::uint32_t type, MdLocation location) {
        if (streamCount_ < kMaxStreams) streams_[streamCount_++] = {type, location};
    }

    void ReadMaps() {
        char path[64];
        ProcPath(path, sizeof(path), crash_.pid, "maps");
        if (!maps_.Read(path)) return;
        size_t lines = 1;
        for (size_t i = 0; i < maps_.size(); ++i) lines += maps_.data()[i] == '\n';
        if (!mappings_.Allocate(lines)) return;
        mappingCount_ = ParseMaps(maps_.data(), maps_.size(), mappings_.data(), mappings_.capacity());
    }

    const Mapping* MappingAt(std::uint64_t address) {
        return FindMapping(mappings_.data(), mappingCount_, address);
    }

    // Copies [start, end) of the crashed process into the dump and lists it
    // in the memory list.
    MdMemoryDescriptor CaptureMemory(std::uint64_t start, std::uint64_t end) {
        MdMemoryDescriptor range{start, {0, 0}};
        if (end <= start) return range;
        for (size_t i = 0; i < rangeCount_; ++i) {
            const MdMemoryDescriptor& r = ranges_[i];
            if (start < r.startOfMemoryRange + r.memory.dataSize && r.startOfMemoryRange < end) return range;
        }
        size_t length = static_cast<size_t>(end - start);
        std::uint32_t at = dump_.Allocate(length, 16);
        if (!at) return range;
        if (!memory_.Read(start, dump_.At<std::uint8_t>(at), length)) {
            dump_.Shrink(at);
            return range;
        }
        range.memory = {static_cast<std::uint32_t>(length), at};
        if (rangeCount_ < ranges_.capacity()) ranges_[rangeCount_++] = range;
        return range;
    }

    // The used part of a thread's stack: from just below its stack pointer to
    // the top of the mapping, at most kMaxStackBytes. After a stack overflow
    // the pointer lies in the guard area below the stack: then the stack's
    // lowest part is taken, which holds the innermost frames.
    MdMemoryDescriptor CaptureStack(std::uint64_t sp) {
        std::uint64_t low = (sp > kRedZone ? sp - kRedZone : 0) & ~std::uint64_t(15);
        auto nearEnough = [low](const Mapping& m) { return m.start <= low || m.start - low <= kGuardGapBytes; };
        size_t i = FirstMappingEndingAbove(mappings_.data(), mappingCount_, low);
        while (i < mappingCount_ && !mappings_[i].readable && nearEnough(mappings_[i])) ++i;
        if (i >= mappingCount_ || !mappings_[i].readable || !nearEnough(mappings_[i])) return {sp, {0, 0}};
        const Mapping& m = mappings_[i];
        std::uint64_t start = low > m.start ? low : m.start;
        std::uint64_t end = m.end - start > kMaxStackBytes ? start + kMaxStackBytes : m.end;
        return CaptureMemory(start, end);
    }

    void WriteSystemInfo() {
        std::uint32_t at = dump_.Append(&facts_.info, sizeof(MdSystemInfo));
        if (!at) return;
        std::uint32_t csd = AppendString(dump_, facts_.csdVersion, std::strlen(facts_.csdVersion));
        dump_.At<MdSystemInfo>(at)->csdVersionRva = csd;
        AddStream(kMdSystemInfoStream, {sizeof(MdSystemInfo), at});
    }

    void WriteMiscInfo() {
        MdMiscInfo info{};
        info.sizeOfInfo = sizeof(info);
        info.flags1 = kMdMiscProcessId;
        info.processId = static_cast<std::uint32_t>(crash_.pid);
        std::uint32_t at = dump_.Append(&info, sizeof(info));
        if (at) AddStream(kMdMiscInfoStream, {sizeof(info), at});
    }

    // Crashed thread first, then every thread that stopped. Returns the
    // location of the crashed thread's context.
    MdLocation WriteThreadList() {
        size_t listed = 1;
        for (size_t i = 0; i < threads_.count(); ++i) listed += threads_[i].stopped;
        std::uint32_t list = dump_.Allocate(4 + listed * sizeof(MdThread));
        if (!list) return {0, 0};
        *dump_.At<std::uint32_t>(list) = static_cast<std::uint32_t>(listed);
        AddStream(kMdThreadListStream, {static_cast<std::uint32_t>(4 + listed * sizeof(MdThread)), list});

        MdContextAmd64 context;
        ContextFromCrash(crash_, context);
        MdLocation crashContext = WriteThread(list, 0, crash_.tid, crash_.fsBase, context);
        size_t slot = 1;
        for (size_t i = 0; i < threads_.count(); ++i) {
            const StoppedThread& t = threads_[i];
            if (!t.stopped) continue;
            ContextFromRegisters(t.regs, t.hasFpregs ? &t.fpregs : nullptr, context);
            WriteThread(list, slot++, t.tid, t.regs.fs_base, context);
        }
        return crashContext;
    }

    MdLocation WriteThread(std::uint32_t list, size_t slot, int tid, std::uint64_t fsBase,
                           const MdContextAmd64& context) {
        MdThread thread{};
        thread.threadId = static_cast<std::uint32_t>(tid);
        thread.teb = fsBase;
        std::uint32_t at = dump_.Append(&context, sizeof(context), 16);
        if (at) thread.threadContext = {sizeof(context), at};
        thread.stack = CaptureStack(context.rsp);
        std::memcpy(dump_.At<std::uint8_t>(list + 4 + static_cast<std::uint32_t>(slot * sizeof(MdThread))), &thread,
                    sizeof(thread));
        return thread.threadContext;
    }

    void WriteException(MdLocation crashContext) {
        MdExceptionStream stream{};
        stream.threadId = static_cast<std::uint32_t>(crash_.tid);
        stream.exceptionRecord.exceptionCode = static_cast<std::uint32_t>(crash_.signo);
        stream.exceptionRecord.exceptionFlags = static_cast<std::uint32_t>(crash_.info.si_code);
        // si_addr is meaningful for faults the kernel raised, not for sent signals.
        if (crash_.info.si_code > 0)
            stream.exceptionRecord.exceptionAddress = reinterpret_cast<std::uint64_t>(crash_.info.si_addr);
        stream.threadContext = crashContext;
        std::uint32_t at = dump_.Append(&stream, sizeof(stream));
        if (at) AddStream(kMdExceptionStream, {sizeof(stream), at});
    }

    void WriteCodeAroundCrash() {
        auto pc = static_cast<std::uint64_t>(crash_.context.uc_mcontext.gregs[REG_RIP]);
        const Mapping* m = MappingAt(pc);
        if (!m || !m->readable) return;
        std::uint64_t start = pc - m->start > kCodeBytesAround ? pc - kCodeBytesAround : m->start;
        std::uint64_t end = m->end - pc > kCodeBytesAround ? pc + kCodeBytesAround : m->end;
        CaptureMemory(start, end);
    }

    void WriteModuleList() {
        size_t modules = 0;
        ModuleSpan span;
        size_t next = 0;
        for (size_t from = 0; NextModuleSpan(mappings_.data(), mappingCount_, from, span, next); from = next)
            ++modules;
        std::uint32_t list = dump_.Allocate(4 + modules * sizeof(MdModule));
        if (!list) return;

        size_t written = 0;
        for (size_t from = 0; written < modules && NextModuleSpan(mappings_.data(), mappingCount_, from, span, next);
             from = next) {
            ElfFacts elf;
            if (!ReadElfFacts(memory_, span.base, elf)) continue;  // a data file, not a loaded image
            const Mapping& head = mappings_[span.first];
            MdModule module{};
            module.baseOfImage = span.base;
            std::uint64_t size = span.end - span.base;
            module.sizeOfImage = static_cast<std::uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
            module.moduleNameRva = AppendString(dump_, head.path, head.pathLength);
            if (elf.hasVersion) {
                MdFixedFileInfo& v = module.versionInfo;
                v.signature = kMdFixedFileInfoSignature;
                v.strucVersion = 0x00010000;
                v.fileVersionMs = (std::uint32_t(elf.fileVersion[0]) << 16) | elf.fileVersion[1];
                v.fileVersionLs = (std::uint32_t(elf.fileVersion[2]) << 16) | elf.fileVersion[3];
                v.productVersionMs = (std::uint32_t(elf.productVersion[0]) << 16) | elf.productVersion[1];
                v.productVersionLs = (std::uint32_t(elf.productVersion[2]) << 16) | elf.productVersion[3];
            }
            if (elf.buildIdLength > 0) {
                std::uint32_t cv = dump_.Allocate(4 + elf.buildIdLength);
                if (cv) {
                    std::uint32_t signature = kMdCvSignatureElfBuildId;
                    std::memcpy(dump_.At<std::uint8_t>(cv), &signature, 4);
                    std::memcpy(dump_.At<std::uint8_t>(cv + 4), elf.buildId, elf.buildIdLength);
                    module.cvRecord = {static_cast<std::uint32_t>(4 + elf.buildIdLength), cv};
                }
            }
            std::memcpy(dump_.At<std::uint8_t>(list + 4 + static_cast<std::uint32_t>(written * sizeof(MdModule))),
                        &module, sizeof(module));
            ++written;
        }
        *dump_.At<std::uint32_t>(list) = static_cast<std::uint32_t>(written);
        AddStream(kMdModuleListStream, {static_cast<std::uint32_t>(4 + written * sizeof(MdModule)), list});
    }

    void WriteMemoryList() {
        std::uint32_t at = dump_.Allocate(4 + rangeCount_ * sizeof(MdMemoryDescriptor));
        if (!at) return;
        *dump_.At<std::uint32_t>(at) = static_cast<std::uint32_t>(rangeCount_);
        std::memcpy(dump_.At<std::uint8_t>(at + 4), ranges_.data(), rangeCount_ * sizeof(MdMemoryDescriptor));
        AddStream(kMdMemoryListStream,
                  {static_cast<std::uint32_t>(4 + rangeCount_ * sizeof(MdMemoryDescriptor)), at});
    }

    void WriteFileStream(std::uint32_t type, const char* path) {
        int fd = OpenForReading(path);
        if (fd < 0) return;
        dump_.Allocate(0, 4);  // streams start 4-aligned
        std::uint32_t start = static_cast<std::uint32_t>(dump_.size());
        size_t total = 0;
        while (total < TextFile::kMaxBytes && dump_.Reserve(kStreamChunk)) {
            long n = Sys(SYS_read, fd, reinterpret_cast<long>(dump_.Tail()), kStreamChunk);
            if (n <= 0) break;
            dump_.Commit(static_cast<size_t>(n));
            total += static_cast<size_t>(n);
        }
        CloseFd(fd);
        if (total > 0) AddStream(type, {static_cast<std::uint32_t>(total), start});
    }

    void WriteProcStream(std::uint32_t type, const char* leaf) {
        char path[64];
        ProcPath(path, sizeof(path), crash_.pid, leaf);
        WriteFileStream(type, path);
    }

    const CrashContext& crash_;
    const SystemFacts& facts_;
    ProcessMemory memory_;
    DumpBuffer dump_;
    ThreadStopper threads_;
    TextFile maps_;
    PageArray<Mapping> mappings_;
    size_t mappingCount_ = 0;
    PageArray<MdMemoryDescriptor> ranges_;
    size_t rangeCount_ = 0;
    MdDirectory streams_[kMaxStreams] = {};
    size_t streamCount_ = 0;
};

}  // namespace

bool WriteMinidump(int fd, const CrashContext& crash, const SystemFacts& facts) {
    MinidumpBuilder builder(crash, facts);
    return builder.Build(fd);
}

}  // namespace crash
}  // namespace platform
