// On-disk layout of a minidump ("MDMP"): header, stream directory and the
// streams this writer produces, for x86-64 Linux processes. All structures are
// little-endian and 4-byte packed, exactly as in the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
namespace crash {

constexpr std::uint32_t kMdSignature = 0x504d444d;  // "MDMP"
constexpr std::uint32_t kMdVersion = 0xa793;        // format version in the low word

// Stream types.
enum MdStreamType : std::uint32_t {
    kMdThreadListStream = 3,
    kMdModuleListStream = 4,
    kMdMemoryListStream = 5,
    kMdExceptionStream = 6,
    kMdSystemInfoStream = 7,
    kMdMiscInfoStream = 15,
    // Linux streams, in the range debuggers read from Linux dumps.
    kMdLinuxCpuInfo = 0x47670003,     // /proc/cpuinfo
    kMdLinuxProcStatus = 0x47670004,  // /proc/PID/status
    kMdLinuxLsbRelease = 0x47670005,  // /etc/lsb-release (or os-release)
    kMdLinuxCmdLine = 0x47670006,     // /proc/PID/cmdline
    kMdLinuxEnviron = 0x47670007,     // /proc/PID/environ
    kMdLinuxAuxv = 0x47670008,        // /proc/PID/auxv
    kMdLinuxMaps = 0x47670009,        // /proc/PID/maps
};

constexpr std::uint16_t kMdCpuArchitectureAmd64 = 9;
constexpr std::uint32_t kMdOsLinux = 0x8201;
constexpr std::uint32_t kMdCvSignatureElfBuildId = 0x4270454c;  // "LEpB": build id bytes follow
constexpr std::uint32_t kMdFixedFileInfoSignature = 0xfeef04bd;
constexpr std::uint32_t kMdMiscProcessId = 0x1;

// Context flags of an AMD64 context.
constexpr std::uint32_t kMdContextAmd64 = 0x00100000;
constexpr std::uint32_t kMdContextControl = kMdContextAmd64 | 0x1;
constexpr std::uint32_t kMdContextInteger = kMdContextAmd64 | 0x2;
constexpr std::uint32_t kMdContextSegments = kMdContextAmd64 | 0x4;
constexpr std::uint32_t kMdContextFloatingPoint = kMdContextAmd64 | 0x8;
constexpr std::uint32_t kMdContextFull =
    kMdContextControl | kMdContextInteger | kMdContextSegments | kMdContextFloatingPoint;

#pragma pack(push, 4)

struct MdLocation {
    std::uint32_t dataSize;
    std::uint32_t rva;
};

struct MdMemoryDescriptor {
    std::uint64_t startOfMemoryRange;
    MdLocation memory;
};

struct MdHeader {
    std::uint32_t signature;
    std::uint32_t version;
    std::uint32_t numberOfStreams;
    std::uint32_t streamDirectoryRva;
    std::uint32_t checkSum;
    std::uint32_t timeDateStamp;
    std::uint64_t flags;
};

struct MdDirectory {
    std::uint32_t streamType;
    MdLocation location;
};

struct MdThread {
    std::uint32_t threadId;
    std::uint32_t suspendCount;
    std::uint32_t priorityClass;
    std::uint32_t priority;
    std::uint64_t teb;  // here: the thread pointer (fs base)
    MdMemoryDescriptor stack;
    MdLocation threadContext;
};

struct MdFixedFileInfo {
    std::uint32_t signature;
    std::uint32_t strucVersion;
    std::uint32_t fileVersionMs;
    std::uint32_t fileVersionLs;
    std::uint32_t productVersionMs;
    std::uint32_t productVersionLs;
    std::uint32_t fileFlagsMask;
    std::uint32_t fileFlags;
    std::uint32_t fileOs;
    std::uint32_t fileType;
    std::uint32_t fileSubtype;
    std::uint32_t fileDateMs;
    std::uint32_t fileDateLs;
};

struct MdModule {
    std::uint64_t baseOfImage;
    std::uint32_t sizeOfImage;
    std::uint32_t checkSum;
    std::uint32_t timeDateStamp;
    std::uint32_t moduleNameRva;
    MdFixedFileInfo versionInfo;
    MdLocation cvRecord;
    MdLocation miscRecord;
    std::uint64_t reserved0;
    std::uint64_t reserved1;
};

struct MdException {
    std::uint32_t exceptionCode;   // signal number
    std::uint32_t exceptionFlags;  // si_code
    std::uint64_t exceptionRecord;
    std::uint64_t exceptionAddress;  // si_addr
    std::uint32_t numberParameters;
    std::uint32_t unusedAlignment;
    std::uint64_t exceptionInformation[15];
};

struct MdExceptionStream {
    std::uint32_t threadId;
    std::uint32_t alignment;
    MdException exceptionRecord;
    MdLocation threadContext;
};

struct MdSystemInfo {
    std::uint16_t processorArchitecture;
    std::uint16_t processorLevel;
    std::uint16_t processorRevision;
    std::uint8_t numberOfProcessors;
    std::uint8_t productType;
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t platformId;
    std::uint32_t csdVersionRva;
    std::uint16_t suiteMask;
    std::uint16_t reserved2;
    std::uint32_t vendorId[3];
    std::uint32_t versionInformation;
    std::uint32_t featureInformation;
    std::uint32_t amdExtendedCpuFeatures;
};

struct MdMiscInfo {
    std::uint32_t sizeOfInfo;
    std::uint32_t flags1;
    std::uint32_t processId;
    std::uint32_t processCreateTime;
    std::uint32_t processUserTime;
    std::uint32_t processKernelTime;
};

// The AMD64 register context (1232 bytes).
struct MdContextAmd64 {
    std::uint64_t pHome[6];
    std::uint32_t contextFlags;
    std::uint32_t mxCsr;
    std::uint16_t segCs, segDs, segEs, segFs, segGs, segSs;
    std::uint32_t eflags;
    std::uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rip;
    std::uint8_t fltSave[512];  // FXSAVE image: x87, MXCSR, XMM0-15
    std::uint8_t vectorRegister[26 * 16];
    std::uint64_t vectorControl;
    std::uint64_t debugControl;
    std::uint64_t lastBranchToRip;
    std::uint64_t lastBranchFromRip;
    std::uint64_t lastExceptionToRip;
    std::uint64_t lastExceptionFromRip;
};

#pragma pack(pop)

static_assert(sizeof(MdHeader) == 32, "header layout");
static_assert(sizeof(MdDirectory) == 12, "directory layout");
static_assert(sizeof(MdMemoryDescriptor) == 16, "memory descriptor layout");
static_assert(sizeof(MdThread) == 48, "thread layout");
static_assert(sizeof(MdFixedFileInfo) == 52, "version layout");
static_assert(sizeof(MdModule) == 108, "module layout");
static_assert(sizeof(MdException) == 152, "exception layout");
static_assert(sizeof(MdExceptionStream) == 168, "exception stream layout");
static_assert(sizeof(MdSystemInfo) == 56, "system info layout");
static_assert(sizeof(MdMiscInfo) == 24, "misc info layout");
static_assert(sizeof(MdContextAmd64) == 1232, "context layout");
static_assert(offsetof(MdContextAmd64, contextFlags) == 48, "context flags offset");
static_assert(offsetof(MdContextAmd64, rax) == 120, "integer registers offset");
static_assert(offsetof(MdContextAmd64, rip) == 248, "rip offset");
static_assert(offsetof(MdContextAmd64, fltSave) == 256, "fxsave offset");

}  // namespace crash
}  // namespace platform
