// Where the client keeps what it writes: the daily log, crash dumps, the browser
// profile and cache and "out_start.ini". While the executable's folder is
// this user's alone (owned by the user and writable by nobody else) they stay
// beside it, so a copied folder keeps working as it is. Otherwise they go to
// the user's XDG folders: for an installation for all users (the package's
// folder, whoever runs it, root included), a folder of another user, a folder
// others may write into, or one where something of another user already
// stands in the client's place. The one owner of these paths: every writer
// asks here.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// The folder name under the XDG folders ("quenor").
const wchar_t* ProductFolderName();

// The package's folders: where it installs the side-by-side folder, and where
// the administrator's configuration ("deploy.ini") lives.
const wchar_t* PackageInstallDir();  // "/opt/<product>"
const wchar_t* PackageConfigDir();   // "/etc/<product>"
// Whether this process's executable is the package's.
bool RunningFromPackage();

struct StateDirs {
    bool besideExecutable = true;
    std::wstring logDir;        // "<exe dir>/LOG" or "$XDG_STATE_HOME/<product>/LOG"
    std::wstring dumpDir;       // "<exe dir>/Dump" or "$XDG_STATE_HOME/<product>/Dump"
    std::wstring profileRoot;   // "<exe dir>/tmp" or "$XDG_DATA_HOME/<product>/tmp"
    std::wstring cacheRoot;     // the same as profileRoot, or "$XDG_CACHE_HOME/<product>"
    std::wstring startIniPath;  // "<exe dir>/out_start.ini" or "$XDG_RUNTIME_DIR/<product>/out_start.ini"
                                // (the state folder when there is no runtime folder)
    // Why the files are not beside the executable; empty when they are.
    std::string whyNotBeside;
    // The folders the client's own hang from (the executable's folder, or the
    // user's XDG base folders): never changed, only made when missing.
    std::vector<std::wstring> bases;
    std::wstring windowStatePath;  // "$XDG_STATE_HOME/<product>/window.ini": the user's window size and
                                   // place, wherever the rest goes

    // The browser profile of an executable: profileRoot + "/" + its name without
    // directory and extension (at most 255 characters).
    std::wstring ProfileDirFor(const std::wstring& executablePath) const;
    // Its web cache: the profile itself beside the executable, else the
    // executable's name under cacheRoot.
    std::wstring CacheDirFor(const std::wstring& executablePath) const;
    // Makes `folder` (one of the above, or a folder under one) private below
    // the base it hangs from (platform/private_files.h, MakePrivateFolder).
    bool PrepareFolder(const std::wstring& folder, std::string* why) const;
};

using EnvLookup = std::function<std::string(const char* name)>;

// The rule alone: `env` supplies HOME and the XDG variables (unset = empty).
// XDG variables that are not absolute paths count as unset, as the base
// directory specification says.
StateDirs ResolveStateDirs(const std::wstring& executablePath, bool besideAllowed, const EnvLookup& env);

// Why the folder of the executable at `executablePath` cannot hold this
// user's files (one line naming the refused path); empty when it can.
// Changes nothing.
std::string WhyNotBesideExecutable(const std::wstring& executablePath);

// The folders of an executable installed at `executablePath`, examining its
// folder now, with this process's environment.
StateDirs StateDirsFor(const std::wstring& executablePath);

// The folders of this process's executable: computed once, then the same for
// the life of the process.
const StateDirs& ProcessStateDirs();

}  // namespace platform
