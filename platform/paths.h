// Paths of the running executable and of loaded modules, and small path and
// file-system helpers. Paths are wide strings with '/' separators on disk.
// Creating, writing and reading files follows the rules of private_files.h.
#pragma once

#include <string>
#include <vector>

#include "platform/private_files.h"

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
// Names (not paths) of the regular files in `dir` whose name starts with
// `prefix` and ends with `suffix`.
std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& prefix,
                                    const std::wstring& suffix);

// File-system encoding of a path (UTF-8 on Linux).
std::string NativePath(const std::wstring& path);
std::wstring FromNativePath(const std::string& path);

}  // namespace platform
