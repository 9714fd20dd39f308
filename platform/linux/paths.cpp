#include "platform/paths.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/text.h"

namespace platform {

std::string NativePath(const std::wstring& path) { return WideToUtf8(path); }
std::wstring FromNativePath(const std::string& path) { return Utf8ToWide(path); }

std::wstring ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    // The kernel marks a file replaced while running (an update); the folder and
    // name are still the ones the program was started from.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return FromNativePath(path);
}

std::wstring ExecutableDir() { return DirPart(ExecutablePath()); }

std::wstring ModulePathOf(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return FromNativePath(resolved);
    return FromNativePath(info.dli_fname);
}

static size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

std::wstring FilePart(const std::wstring& path) {
    size_t pos = LastSeparator(path);
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring DirPart(const std::wstring& path) {
    size_t pos = LastSeparator(path);
    return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos);
}

std::wstring FileStem(const std::wstring& path) {
    std::wstring name = FilePart(path);
    size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) {
    if (dir.empty()) return name;
    if (dir.back() == L'/' || dir.back() == L'\\') return dir + name;
    return dir + L"/" + name;
}

bool FileExists(const std::wstring& path) {
    struct stat st{};
    return !path.empty() && stat(NativePath(path).c_str(), &st) == 0;
}

bool DirectoryExists(const std::wstring& path) {
    struct stat st{};
    return !path.empty() && stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& prefix,
                                    const std::wstring& suffix) {
    std::vector<std::wstring> names;
    DIR* d = opendir(NativePath(dir).c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string raw = e->d_name;
        if (raw == "." || raw == "..") continue;
        std::wstring name = FromNativePath(raw);
        if (name.size() < prefix.size() + suffix.size()) continue;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
        struct stat st{};
        if (stat(NativePath(JoinPath(dir, name)).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    closedir(d);
    return names;
}

}  // namespace platform
