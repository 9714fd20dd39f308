#include <cpuid.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/crash/crash_context.h"
#include "platform/linux/crash/dump_name.h"

namespace platform {
namespace crash {
namespace {

// "6.1.0-18-amd64" -> 6, 1, 0.
void ParseKernelRelease(const char* release, std::uint32_t numbers[3]) {
    const char* p = release;
    for (int i = 0; i < 3; ++i) {
        numbers[i] = 0;
        while (*p >= '0' && *p <= '9') numbers[i] = numbers[i] * 10 + static_cast<std::uint32_t>(*p++ - '0');
        if (*p != '.') break;
        ++p;
    }
}

}  // namespace

void CollectSystemFacts(SystemFacts& facts) {
    MdSystemInfo& info = facts.info;
    std::memset(&info, 0, sizeof(info));
    info.processorArchitecture = kMdCpuArchitectureAmd64;
    info.platformId = kMdOsLinux;
    info.productType = 1;  // a workstation

    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info.numberOfProcessors = static_cast<std::uint8_t>(cpus <= 0 ? 1 : (cpus > 255 ? 255 : cpus));

    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        info.vendorId[0] = ebx;
        info.vendorId[1] = edx;
        info.vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        unsigned family = (eax >> 8) & 0xf;
        unsigned model = (eax >> 4) & 0xf;
        unsigned stepping = eax & 0xf;
        if (family == 0xf) family += (eax >> 20) & 0xff;
        if (family >= 6) model |= ((eax >> 16) & 0xf) << 4;
        info.processorLevel = static_cast<std::uint16_t>(family);
        info.processorRevision = static_cast<std::uint16_t>((model << 8) | stepping);
        info.versionInformation = eax;
        info.featureInformation = edx;
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) info.amdExtendedCpuFeatures = ecx;

    struct utsname names{};
    if (uname(&names) == 0) {
        std::uint32_t numbers[3];
        ParseKernelRelease(names.release, numbers);
        info.majorVersion = numbers[0];
        info.minorVersion = numbers[1];
        info.buildNumber = numbers[2];
        TextBuilder(facts.csdVersion, sizeof(facts.csdVersion))
            .Text("Linux ")
            .Text(names.release)
            .Text(" ")
            .Text(names.version)
            .Text(" ")
            .Text(names.machine);
    }
    TextBuilder(facts.releaseFile, sizeof(facts.releaseFile))
        .Text(access("/etc/lsb-release", R_OK) == 0 ? "/etc/lsb-release" : "/etc/os-release");
}

}  // namespace crash
}  // namespace platform
