#include "engine/profile.h"

#include "platform/paths.h"
#include "platform/system_info.h"

namespace kxcef {

std::wstring ProfileDirectory() {
    std::wstring exe = platform::ExecutablePath();
    std::wstring name = platform::FileStem(exe);
    if (name.size() > 255) name.resize(255);
    return platform::JoinPath(platform::JoinPath(platform::DirPart(exe), L"tmp"), name);
}

std::string WebExtensionDirectory() {
    std::string dir = platform::GetEnv("KXCEF2_WEBEXT_DIR");
    if (!dir.empty()) return dir;
    return platform::NativePath(platform::JoinPath(platform::ExecutableDir(), L"webext"));
}

}  // namespace kxcef
