// Loading shared libraries by path or by name and finding their exports.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

// Loads a module by full path or bare name (bare names are searched beside the
// executable first, then by the system's rules). Null on failure.
HMODULE LoadModule(const std::wstring& pathOrName);
// The handle of a module already loaded in this process, or null.
HMODULE GetLoadedModule(const std::wstring& pathOrName);
// The handle of the program itself (its HINSTANCE).
HMODULE MainModule();
// Full path of a loaded module (the executable for MainModule()).
std::wstring ModuleFilePath(HMODULE module);
void* GetExport(HMODULE module, const char* name);
void FreeModule(HMODULE module);
// The loader's last error text (for log lines).
std::string LastModuleError();

}  // namespace platform
