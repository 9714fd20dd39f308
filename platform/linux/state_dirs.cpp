#include "platform/state_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/private_files.h"
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

const wchar_t* PackageInstallDir() {
    static const std::wstring dir = Widen(QM_PACKAGE_INSTALL_DIR);
    return dir.c_str();
}

const wchar_t* PackageConfigDir() {
    static const std::wstring dir = Widen(QM_PACKAGE_CONFIG_DIR);
    return dir.c_str();
}

bool RunningFromPackage() { return ExecutableDir() == PackageInstallDir(); }

std::wstring StateDirs::ProfileDirFor(const std::wstring& executablePath) const {
    std::wstring name = FileStem(executablePath);
    if (name.size() > 255) name.resize(255);
    return JoinPath(profileRoot, name);
}

std::wstring StateDirs::CacheDirFor(const std::wstring& executablePath) const {
    if (cacheRoot == profileRoot) return ProfileDirFor(executablePath);
    std::wstring name = FileStem(executablePath);
    if (name.size() > 255) name.resize(255);
    return JoinPath(cacheRoot, name);
}

bool StateDirs::PrepareFolder(const std::wstring& folder, std::string* why) const {
    // The longest base the folder lies in; the levels below it are the client's.
    std::wstring base;
    for (const std::wstring& b : bases) {
        bool inside = folder == b || (folder.size() > b.size() && folder.compare(0, b.size(), b) == 0 &&
                                      folder[b.size()] == L'/');
        if (inside && b.size() > base.size()) base = b;
    }
    // A folder under none of them is not the client's to change: it is only made when missing.
    if (base.empty()) base = folder;
    return MakePrivateFolder(base, folder, why);
}

StateDirs ResolveStateDirs(const std::wstring& executablePath, bool besideAllowed, const EnvLookup& env) {
    StateDirs dirs;
    std::wstring exeDir = DirPart(executablePath);
    dirs.windowStatePath =
        JoinPath(JoinPath(XdgFolder(env, "XDG_STATE_HOME", L".local/state"), ProductFolderName()), L"window.ini");
    if (besideAllowed) {
        dirs.besideExecutable = true;
        dirs.logDir = JoinPath(exeDir, L"LOG");
        dirs.dumpDir = JoinPath(exeDir, L"Dump");
        dirs.profileRoot = JoinPath(exeDir, L"tmp");
        dirs.cacheRoot = dirs.profileRoot;
        dirs.startIniPath = JoinPath(exeDir, L"out_start.ini");
        dirs.bases = {exeDir};
        return dirs;
    }
    dirs.besideExecutable = false;
    std::wstring product = ProductFolderName();
    std::wstring stateBase = XdgFolder(env, "XDG_STATE_HOME", L".local/state");
    std::wstring dataBase = XdgFolder(env, "XDG_DATA_HOME", L".local/share");
    std::wstring cacheBase = XdgFolder(env, "XDG_CACHE_HOME", L".cache");
    std::wstring runtime = AbsoluteOrEmpty(env("XDG_RUNTIME_DIR"));
    std::wstring state = JoinPath(stateBase, product);
    dirs.logDir = JoinPath(state, L"LOG");
    dirs.dumpDir = JoinPath(state, L"Dump");
    dirs.profileRoot = JoinPath(JoinPath(dataBase, product), L"tmp");
    dirs.cacheRoot = JoinPath(cacheBase, product);
    dirs.startIniPath = JoinPath(runtime.empty() ? state : JoinPath(runtime, product), L"out_start.ini");
    dirs.bases = {stateBase, dataBase, cacheBase};
    if (!runtime.empty()) dirs.bases.push_back(runtime);
    return dirs;
}

std::string WhyNotBesideExecutable(const std::wstring& executablePath) {
    std::wstring dir = DirPart(executablePath);
    if (dir.empty()) return {};  // nothing known: the old behaviour, beside it
    if (dir == PackageInstallDir())
        return NativePath(dir) + " is the package's installation, shared by every user";
    std::string why;
    if (!FolderClosedToOthers(dir, &why)) return why;
    // What stands in the client's place must be this user's, all the way down:
    // anything of another user there was put there for this user to write into.
    StateDirs beside = ResolveStateDirs(executablePath, true, [](const char*) { return std::string(); });
    for (const std::wstring& path : {beside.logDir, beside.dumpDir, beside.profileRoot, beside.startIniPath})
        if (!OwnedThroughout(path, &why)) return why;
    return {};
}

StateDirs StateDirsFor(const std::wstring& executablePath) {
    std::string why = WhyNotBesideExecutable(executablePath);
    StateDirs dirs = ResolveStateDirs(executablePath, why.empty(), &ProcessEnv);
    dirs.whyNotBeside = why;
    return dirs;
}

const StateDirs& ProcessStateDirs() {
    static const StateDirs* dirs = new StateDirs(StateDirsFor(ExecutablePath()));
    return *dirs;
}

}  // namespace platform
