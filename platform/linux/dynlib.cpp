#include "platform/dynlib.h"

#include <dlfcn.h>
#include <link.h>

#include "platform/paths.h"
#include "platform/text.h"

namespace platform {
namespace {
thread_local std::string g_lastError;

std::string Resolve(const std::wstring& pathOrName) {
    if (pathOrName.find_first_of(L"/\\") != std::wstring::npos) return NativePath(pathOrName);
    // Bare names: beside the executable first, like the Windows search order.
    std::wstring beside = JoinPath(ExecutableDir(), pathOrName);
    if (FileExists(beside)) return NativePath(beside);
    return NativePath(pathOrName);
}

HMODULE Open(const std::wstring& pathOrName, int flags) {
    void* h = dlopen(Resolve(pathOrName).c_str(), flags);
    if (!h) {
        const char* err = dlerror();
        g_lastError = err ? err : "unknown error";
    }
    return reinterpret_cast<HMODULE>(h);
}
}  // namespace

HMODULE LoadModule(const std::wstring& pathOrName) { return Open(pathOrName, RTLD_NOW | RTLD_LOCAL); }

HMODULE GetLoadedModule(const std::wstring& pathOrName) {
    return Open(pathOrName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

HMODULE MainModule() {
    static void* self = dlopen(nullptr, RTLD_NOW);
    return reinterpret_cast<HMODULE>(self);
}

std::wstring ModuleFilePath(HMODULE module) {
    if (!module) return {};
    if (module == MainModule()) return ExecutablePath();
    link_map* map = nullptr;
    if (dlinfo(reinterpret_cast<void*>(module), RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    return FromNativePath(map->l_name);
}

void* GetExport(HMODULE module, const char* name) {
    if (!module || !name) return nullptr;
    return dlsym(reinterpret_cast<void*>(module), name);
}

void FreeModule(HMODULE module) {
    if (module) dlclose(reinterpret_cast<void*>(module));
}

std::string LastModuleError() { return g_lastError; }

}  // namespace platform
