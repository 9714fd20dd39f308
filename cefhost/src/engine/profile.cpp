#include "engine/profile.h"

#include <cstring>

#include "kxcef/profile.h"

#include "platform/paths.h"
#include "platform/state_dirs.h"
#include "platform/system_info.h"

namespace kxcef {

std::wstring ProfileDirectory() {
    return platform::ProcessStateDirs().ProfileDirFor(platform::ExecutablePath());
}

std::wstring CacheDirectoryFor(const std::wstring& profileDir) {
    if (profileDir != ProfileDirectory()) return profileDir;
    return platform::ProcessStateDirs().CacheDirFor(platform::ExecutablePath());
}

bool PrepareProfileFolder(const std::wstring& dir, std::string* why) {
    return platform::ProcessStateDirs().PrepareFolder(dir, why);
}

std::string WebExtensionDirectory() {
    std::string dir = platform::GetEnv("KXCEF2_WEBEXT_DIR");
    if (!dir.empty()) return dir;
    return platform::NativePath(platform::JoinPath(platform::ExecutableDir(), L"webext"));
}

}  // namespace kxcef

size_t KXCEF2_ProfileDirectory(char* buffer, size_t size) {
    std::string path = platform::NativePath(kxcef::ProfileDirectory());
    if (buffer && size > 0) {
        size_t n = path.size() < size - 1 ? path.size() : size - 1;
        std::memcpy(buffer, path.data(), n);
        buffer[n] = '\0';
    }
    return path.size();
}
