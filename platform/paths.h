// Paths of the running executable and of loaded modules, and small path and
// file-system helpers. Paths are wide strings with '/' separators on disk.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// Full path of the process's executable (empty when unknown).
std::wstring ExecutablePath();
// Directory of the executable, without a trailing separator.
std::wstring ExecutableDir();
// Full path of the module (executable or shared library) that contains `address`.
std::wstring ModulePathOf(const void* address);

// Text after the last '\\' or '/'; the whole path when there is none.
std::wstring FilePart(const std::wstring& path);
// Text before the last '\\' or '/'; empty when there is none.
std::wstring DirPart(const std::wstring& path);
// File part without everything from its last '.'.
std::wstring FileStem(const std::wstring& path);
// Joins with one '/' between the parts.
std::wstring JoinPath(const std::wstring& dir, const std::wstring& name);

bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates the directory and missing parents, each new one readable by this
// user only (0700, whatever the umask); true when it exists afterwards.
bool CreateDirectories(const std::wstring& path);
// The same, and an existing directory of this user is narrowed to 0700 too.
// For the folders that hold the log, dumps, the profile and start files.
bool CreatePrivateDirectory(const std::wstring& path);
// Narrows an existing file (to 0600) or directory (to 0700) of this user; false when absent.
bool RestrictToOwner(const std::wstring& path);
// Creates an empty file readable by this user only, or narrows an existing one
// to 0600; for files that another library fills (a cookie database).
bool EnsurePrivateFile(const std::wstring& path);
bool DeleteFileAt(const std::wstring& path);
// Names (not paths) of the regular files in `dir` whose name starts with
// `prefix` and ends with `suffix`.
std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& prefix,
                                    const std::wstring& suffix);
// Reads a whole file; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& out);
// Writes a whole file, replacing it, readable by this user only (0600,
// whatever the umask); false on failure.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Opens a file for appending (creating it 0600, an existing one of this user
// narrowed to 0600). Null on failure, with errno set.
std::FILE* OpenFileForAppend(const std::wstring& path);

// Configuration files (deployment, registry, INI) are small: anything larger,
// or anything that is not a regular file (a device, a pipe), is refused unread.
constexpr std::size_t kMaxConfigFileBytes = 1024 * 1024;
enum class ReadStatus { Ok, Missing, NotAFile, TooLarge, Unreadable };
ReadStatus ReadConfigFile(const std::wstring& path, std::string& out,
                          std::size_t maxBytes = kMaxConfigFileBytes);
// "too large (over 1048576 bytes)" and the like, for log lines.
std::string ReadStatusText(ReadStatus status, std::size_t maxBytes = kMaxConfigFileBytes);

// File-system encoding of a path (UTF-8 on Linux).
std::string NativePath(const std::wstring& path);
std::wstring FromNativePath(const std::string& path);

}  // namespace platform
