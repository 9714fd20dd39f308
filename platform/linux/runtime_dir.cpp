#include "platform/runtime_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/state_dirs.h"
#include "platform/text.h"

namespace platform {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

}  // namespace

std::string MakePrivateRuntimeDir(std::string* why) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    std::string pattern = base + "/" + WideToUtf8(ProductFolderName()) + "-runtime-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp makes it 0700 and fails rather than take an existing name.
    if (!mkdtemp(name.data())) {
        if (why) *why = pattern + ": " + std::strerror(errno);
        return {};
    }
    return std::string(name.data());
}

bool RemovePrivateRuntimeDir(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    return nftw(path.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

}  // namespace platform
