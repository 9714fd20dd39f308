#include "platform/private_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kGroupOtherBits = 0077;
// A walk through a profile stops checking after this many entries or levels:
// the check is for planted files, not an audit of a huge cache.
constexpr int kMaxWalkEntries = 20000;
constexpr int kMaxWalkDepth = 24;

void Say(std::string* why, const std::string& text) {
    if (why) *why = text;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string TypeText(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "of an unknown type";
}

std::string NotOwnedText(uid_t owner) {
    return "belongs to user " + std::to_string(owner) + ", not to this user (" + std::to_string(geteuid()) + ")";
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

int Open(const std::string& native, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = open(native.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Why a file could not be opened for writing, for a log line.
std::string OpenErrorText(int error) {
    if (error == ELOOP) return "is a symbolic link";
    if (error == ENXIO) return "is a FIFO or socket, not a regular file";
    return std::strerror(error);
}

// Clears O_NONBLOCK once the descriptor is known to be a regular file or folder.
void MakeBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

bool WalkOwned(int dirFd, const std::string& shownPath, int depth, int& budget, std::string* why) {
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return true;  // unreadable to us: nothing in it that we would use either
    }
    bool ok = true;
    while (ok && budget > 0) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (!entry) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        --budget;
        struct stat st{};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string path = shownPath + "/" + entry->d_name;
        if (st.st_uid != geteuid()) {
            Say(why, path + " " + NotOwnedText(st.st_uid));
            ok = false;
        } else if (S_ISDIR(st.st_mode) && depth < kMaxWalkDepth) {
            int child = openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) ok = WalkOwned(child, path, depth + 1, budget, why);
        }
    }
    closedir(dir);
    return ok;
}

// One level of a private folder: made, or checked and narrowed.
bool MakeOwnLevel(const std::string& native, std::string* why) {
    if (mkdir(native.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
        Say(why, ErrnoText(("cannot make " + native).c_str()));
        return false;
    }
    int fd = Open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        struct stat st{};
        if (errno == ELOOP || (lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
            Say(why, native + " is a symbolic link");
        else if (errno == ENOTDIR)
            Say(why, native + " is not a folder");
        else
            Say(why, ErrnoText(("cannot open " + native).c_str()));
        return false;
    }
    std::string detail;
    bool ok = CheckOwnDescriptor(fd, true, &detail);
    close(fd);
    if (!ok) Say(why, native + " " + detail);
    return ok;
}

}  // namespace

bool CheckOwnDescriptor(int fd, bool folder, std::string* why) {
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        Say(why, ErrnoText("cannot be examined"));
        return false;
    }
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        Say(why, "is " + TypeText(st.st_mode) + ", not " + (folder ? "a folder" : "a regular file"));
        return false;
    }
    if (st.st_uid != geteuid()) {
        Say(why, NotOwnedText(st.st_uid));
        return false;
    }
    // Another name for the same file may sit where someone else can reach it.
    if (!folder && st.st_nlink != 1) {
        Say(why, "has " + std::to_string(st.st_nlink) + " names (hard links)");
        return false;
    }
    mode_t wanted = (st.st_mode & 0700) | (folder ? kPrivateFolderMode : kPrivateFileMode);
    if ((st.st_mode & 07777) != wanted && fchmod(fd, wanted) != 0) {
        Say(why, "has mode " + ModeText(st.st_mode) + ", which cannot be narrowed: " + std::strerror(errno));
        return false;
    }
    return true;
}

bool OwnedThroughout(const std::wstring& path, std::string* why) {
    std::string native = NativePath(path);
    struct stat st{};
    if (lstat(native.c_str(), &st) != 0) return true;
    if (S_ISLNK(st.st_mode)) {
        Say(why, native + " is a symbolic link");
        return false;
    }
    if (st.st_uid != geteuid()) {
        Say(why, native + " " + NotOwnedText(st.st_uid));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) return true;
    int fd = Open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) return true;
    int budget = kMaxWalkEntries;
    return WalkOwned(fd, native, 0, budget, why);
}

bool FolderClosedToOthers(const std::wstring& path, std::string* why) {
    std::string native = NativePath(path);
    int fd = Open(native, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        Say(why, ErrnoText(("cannot open " + native).c_str()));
        return false;
    }
    struct stat st{};
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        Say(why, ErrnoText(("cannot examine " + native).c_str()));
    } else if (st.st_uid != geteuid()) {
        Say(why, native + " " + NotOwnedText(st.st_uid));
        ok = false;
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        Say(why, native + " may be written by other users (mode " + ModeText(st.st_mode) + ")");
        ok = false;
    } else if (faccessat(fd, ".", W_OK, AT_EACCESS) != 0) {
        Say(why, native + " is not writable (" + std::strerror(errno) + ")");
        ok = false;
    }
    close(fd);
    return ok;
}

bool CreateDirectories(const std::wstring& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    std::wstring parent = DirPart(path);
    if (!parent.empty() && parent != path && !DirectoryExists(parent)) CreateDirectories(parent);
    std::string native = NativePath(path);
    if (mkdir(native.c_str(), kPrivateFolderMode) == 0) {
        chmod(native.c_str(), kPrivateFolderMode);  // mkdir's mode passed through the umask
        return true;
    }
    return errno == EEXIST && DirectoryExists(path);
}

bool MakePrivateFolder(const std::wstring& base, const std::wstring& folder, std::string* why) {
    if (!CreateDirectories(base)) {
        Say(why, ErrnoText(("cannot make " + NativePath(base)).c_str()));
        return false;
    }
    std::wstring rest;
    if (folder.size() > base.size() && folder.compare(0, base.size(), base) == 0 &&
        (folder[base.size()] == L'/' || base.back() == L'/'))
        rest = folder.substr(base.size());
    else if (folder != base) {
        Say(why, NativePath(folder) + " is not under " + NativePath(base));
        return false;
    }
    std::wstring level = base;
    size_t at = 0;
    while (at < rest.size()) {
        size_t next = rest.find(L'/', at);
        if (next == std::wstring::npos) next = rest.size();
        if (next > at) {
            level = JoinPath(level, rest.substr(at, next - at));
            if (!MakeOwnLevel(NativePath(level), why)) return false;
        }
        at = next + 1;
    }
    return true;
}

std::FILE* OpenFileForAppend(const std::wstring& path, std::string* why) {
    std::string native = NativePath(path);
    int fd = Open(native, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW, kPrivateFileMode);
    if (fd < 0 && errno == EEXIST) fd = Open(native, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        Say(why, OpenErrorText(error));
        errno = error;
        return nullptr;
    }
    if (!CheckOwnDescriptor(fd, false, why)) {
        close(fd);
        errno = EPERM;
        return nullptr;
    }
    MakeBlocking(fd);
    std::FILE* f = fdopen(fd, "ab");
    if (!f) {
        int error = errno;
        Say(why, std::strerror(error));
        close(fd);
        errno = error;
    }
    return f;
}

bool EnsurePrivateFile(const std::wstring& path, std::string* why) {
    std::string native = NativePath(path);
    int fd = Open(native, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, kPrivateFileMode);
    if (fd < 0 && errno == EEXIST) fd = Open(native, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        Say(why, OpenErrorText(errno));
        return false;
    }
    bool ok = CheckOwnDescriptor(fd, false, why);
    close(fd);
    return ok;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::string native = NativePath(path);
    // A fresh name each time: a temporary left by a crash never blocks the next write.
    std::string tmp = native + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);  // created exclusively, 0600
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

bool DeleteFileAt(const std::wstring& path) { return unlink(NativePath(path).c_str()) == 0; }

namespace {

// Opens `path` for reading without waiting on it: ReadStatus of what stands there.
ReadStatus OpenForReading(const std::string& native, std::size_t maxBytes, int& fd, struct stat& st,
                          int extraFlags = 0) {
    fd = Open(native, O_RDONLY | O_NONBLOCK | extraFlags);
    if (fd < 0 && errno == ELOOP && (extraFlags & O_NOFOLLOW)) return ReadStatus::NotAFile;
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
    ReadStatus status = ReadStatus::Ok;
    if (fstat(fd, &st) != 0) status = ReadStatus::Unreadable;
    else if (!S_ISREG(st.st_mode)) status = ReadStatus::NotAFile;
    else if (static_cast<std::uint64_t>(st.st_size) > maxBytes) status = ReadStatus::TooLarge;
    if (status != ReadStatus::Ok) {
        close(fd);
        fd = -1;
    }
    return status;
}

ReadStatus ReadOpened(int fd, std::string& out, std::size_t maxBytes) {
    ReadStatus status = ReadStatus::Ok;
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
    return status;
}

}  // namespace

ReadStatus ReadConfigFile(const std::wstring& path, std::string& out, std::size_t maxBytes) {
    out.clear();
    int fd = -1;
    struct stat st{};
    ReadStatus status = OpenForReading(NativePath(path), maxBytes, fd, st);
    if (status != ReadStatus::Ok) return status;
    status = ReadOpened(fd, out, maxBytes);
    close(fd);
    if (status != ReadStatus::Ok) out.clear();
    return status;
}

bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t maxBytes) {
    return ReadConfigFile(path, out, maxBytes) == ReadStatus::Ok;
}

ReadStatus ReadOwnPrivateFile(const std::wstring& path, std::string& out, std::size_t maxBytes, std::string* why) {
    out.clear();
    std::string native = NativePath(path);
    int fd = -1;
    struct stat st{};
    // The name itself must be the file: a link could lead anywhere.
    ReadStatus status = OpenForReading(native, maxBytes, fd, st, O_NOFOLLOW);
    if (status != ReadStatus::Ok) {
        Say(why, ReadStatusText(status, maxBytes));
        return status;
    }
    if (st.st_uid != geteuid()) {
        Say(why, NotOwnedText(st.st_uid));
        status = ReadStatus::NotOwn;
    } else if (st.st_mode & kGroupOtherBits) {
        Say(why, "is open to other users (mode " + ModeText(st.st_mode) + ")");
        status = ReadStatus::NotOwn;
    } else if (st.st_nlink != 1) {
        Say(why, "has " + std::to_string(st.st_nlink) + " names (hard links)");
        status = ReadStatus::NotOwn;
    }
    if (status == ReadStatus::Ok) status = ReadOpened(fd, out, maxBytes);
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
        case ReadStatus::NotOwn: return "not this user's own private file";
    }
    return "unreadable";
}

std::FILE* OpenRegularFileForReading(const std::wstring& path, std::size_t maxBytes) {
    int fd = -1;
    struct stat st{};
    if (OpenForReading(NativePath(path), maxBytes, fd, st) != ReadStatus::Ok) return nullptr;
    MakeBlocking(fd);
    std::FILE* f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
}

}  // namespace platform
