#include "platform/state_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"


namespace platform {
namespace {

std::wstring Widen(const char* text) { return Utf8ToWide(text); }

std::wstring AbsoluteOrEmpty(const std::string& value) {
    return !value.empty() && value[0] == '/' ? FromNativePath(value) : std::wstring();
}

std::wstring HomeOf(const EnvLookup& env) {
    std::string home = env("HOME");
    if (!home.empty()) return FromNativePath(home);
    // No HOME: the account's home directory, as the XDG defaults assume.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return FromNativePath(found->pw_dir);
    return L"/tmp";
}

// $NAME when it is an absolute path, else HOME + `fallback`.
std::wstring XdgFolder(const EnvLookup& env, const char* name, const wchar_t* fallback) {
    std::wstring value = AbsoluteOrEmpty(env(name));
    return value.empty() ? JoinPath(HomeOf(env), fallback) : value;
}

std::string ProcessEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

const wchar_t* ProductFolderName() {
    static const std::wstring name = Widen(QM_PRODUCT_FOLDER);
    return name.c_str();
}

std::wstring StateDirs::ProfileDirFor(const std::wstring& executablePath) const {
    std::wstring name = FileStem(executablePath);
    if (name.size() > 255) name.resize(255);
    return JoinPath(profileRoot, name);
}

StateDirs ResolveStateDirs(const std::wstring& executablePath, bool folderWritable, const EnvLookup& env) {
    StateDirs dirs;
    std::wstring exeDir = DirPart(executablePath);
    dirs.windowStatePath =
        JoinPath(JoinPath(XdgFolder(env, "XDG_STATE_HOME", L".local/state"), ProductFolderName()), L"window.ini");
    if (folderWritable) {
        dirs.besideExecutable = true;
        dirs.logDir = JoinPath(exeDir, L"LOG");
        dirs.dumpDir = JoinPath(exeDir, L"Dump");
        dirs.profileRoot = JoinPath(exeDir, L"tmp");
        dirs.startIniPath = JoinPath(exeDir, L"out_start.ini");
        return dirs;
    }
    dirs.besideExecutable = false;
    std::wstring product = ProductFolderName();
    std::wstring state = JoinPath(XdgFolder(env, "XDG_STATE_HOME", L".local/state"), product);
    std::wstring data = JoinPath(XdgFolder(env, "XDG_DATA_HOME", L".local/share"), product);
    std::wstring runtime = AbsoluteOrEmpty(env("XDG_RUNTIME_DIR"));
    dirs.logDir = JoinPath(state, L"LOG");
    dirs.dumpDir = JoinPath(state, L"Dump");
    dirs.profileRoot = JoinPath(data, L"tmp");
    dirs.startIniPath = JoinPath(runtime.empty() ? state : JoinPath(runtime, product), L"out_start.ini");
    return dirs;
}

StateDirs StateDirsFor(const std::wstring& executablePath) {
    std::wstring dir = DirPart(executablePath);
    // access() also answers for read-only mounts; an unknown folder counts as writable
    // so that the old behaviour (beside the executable) stays where nothing is known.
    bool writable = dir.empty() || access(NativePath(dir).c_str(), W_OK) == 0;
    return ResolveStateDirs(executablePath, writable, &ProcessEnv);
}

const StateDirs& ProcessStateDirs() {
    static const StateDirs* dirs = new StateDirs(StateDirsFor(ExecutablePath()));
    return *dirs;
}

}  // namespace platform
