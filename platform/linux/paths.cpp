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

namespace {

constexpr mode_t kPrivateDirMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// Only what this user owns is changed; a folder shared on purpose stays as it is.
bool NarrowMode(int fd, const struct stat& st, mode_t mode) {
    if (st.st_uid != geteuid()) return false;
    if ((st.st_mode & 07777) == mode) return true;
    return fchmod(fd, mode) == 0;
}

bool NarrowPath(const std::string& native, mode_t dirMode, mode_t fileMode) {
    int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st{};
    bool ok = fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) &&
              NarrowMode(fd, st, S_ISDIR(st.st_mode) ? dirMode : fileMode);
    close(fd);
    return ok;
}

// mkdir's mode passes through the umask: the mode is set again afterwards.
bool MakePrivateDirectory(const std::string& native) {
    if (mkdir(native.c_str(), kPrivateDirMode) != 0) return false;
    chmod(native.c_str(), kPrivateDirMode);
    return true;
}

}  // namespace

bool CreateDirectories(const std::wstring& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    std::wstring parent = DirPart(path);
    if (!parent.empty() && parent != path && !DirectoryExists(parent)) CreateDirectories(parent);
    if (MakePrivateDirectory(NativePath(path))) return true;
    return errno == EEXIST && DirectoryExists(path);
}

bool CreatePrivateDirectory(const std::wstring& path) {
    if (!CreateDirectories(path)) return false;
    RestrictToOwner(path);
    return true;
}

bool RestrictToOwner(const std::wstring& path) {
    return NarrowPath(NativePath(path), kPrivateDirMode, kPrivateFileMode);
}

bool EnsurePrivateFile(const std::wstring& path) {
    std::string native = NativePath(path);
    int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
    if (fd >= 0) {
        fchmod(fd, kPrivateFileMode);
        close(fd);
        return true;
    }
    return errno == EEXIST && NarrowPath(native, kPrivateDirMode, kPrivateFileMode);
}

std::FILE* OpenFileForAppend(const std::wstring& path) {
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                  kPrivateFileMode);
    if (fd < 0) return nullptr;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) NarrowMode(fd, st, kPrivateFileMode);
    std::FILE* f = fdopen(fd, "ab");
    if (!f) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return f;
}

bool DeleteFileAt(const std::wstring& path) { return unlink(NativePath(path).c_str()) == 0; }

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

bool ReadFileBytes(const std::wstring& path, std::string& out) {
    out.clear();
    FILE* f = std::fopen(NativePath(path).c_str(), "rbe");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::string native = NativePath(path);
    // A fresh name each time: a temporary left by a crash never blocks the next write.
    std::string tmp = native + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return false;
    fchmod(fd, kPrivateFileMode);
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else ok = n < 0 && errno == EINTR;
    }
    ok = (close(fd) == 0) && ok;
    if (ok) ok = std::rename(tmp.c_str(), native.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

ReadStatus ReadConfigFile(const std::wstring& path, std::string& out, std::size_t maxBytes) {
    out.clear();
    // Non-blocking: a FIFO put in the file's place must not hang the reader.
    int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
    struct stat st{};
    ReadStatus status = ReadStatus::Ok;
    if (fstat(fd, &st) != 0) status = ReadStatus::Unreadable;
    else if (!S_ISREG(st.st_mode)) status = ReadStatus::NotAFile;
    else if (static_cast<std::uint64_t>(st.st_size) > maxBytes) status = ReadStatus::TooLarge;
    char buf[65536];
    while (status == ReadStatus::Ok) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n == 0) break;
        if (n < 0) {
            if (errno != EINTR) status = ReadStatus::Unreadable;
            continue;
        }
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > maxBytes) status = ReadStatus::TooLarge;  // it grew while we read
    }
    close(fd);
    if (status != ReadStatus::Ok) out.clear();
    return status;
}

std::string ReadStatusText(ReadStatus status, std::size_t maxBytes) {
    switch (status) {
        case ReadStatus::Ok: return "read";
        case ReadStatus::Missing: return "missing";
        case ReadStatus::NotAFile: return "not a regular file";
        case ReadStatus::TooLarge: return "too large (over " + std::to_string(maxBytes) + " bytes)";
        case ReadStatus::Unreadable: return "unreadable";
    }
    return "unreadable";
}

}  // namespace platform
