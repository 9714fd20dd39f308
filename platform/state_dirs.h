// Where the client keeps what it writes: the daily log, crash dumps, the browser
// profile and "out_start.ini". While the executable's folder is writable they
// stay beside it (a copied folder keeps working as it is); otherwise (an
// installation for all users) they go to the user's XDG folders. The one owner
// of these paths: every writer asks here.
#pragma once

#include <functional>
#include <string>

namespace platform {

// The folder name under the XDG folders ("quenor").
const wchar_t* ProductFolderName();

struct StateDirs {
    bool besideExecutable = true;
    std::wstring logDir;        // "<exe dir>/LOG" or "$XDG_STATE_HOME/<product>/LOG"
    std::wstring dumpDir;       // "<exe dir>/Dump" or "$XDG_STATE_HOME/<product>/Dump"
    std::wstring profileRoot;   // "<exe dir>/tmp" or "$XDG_DATA_HOME/<product>/tmp"
    std::wstring startIniPath;  // "<exe dir>/out_start.ini" or "$XDG_RUNTIME_DIR/<product>/out_start.ini"
                                // (the state folder when there is no runtime folder)
    std::wstring windowStatePath;  // "$XDG_STATE_HOME/<product>/window.ini": the user's window size and
                                   // place, wherever the rest goes

    // The browser profile of an executable: profileRoot + "/" + its name without
    // directory and extension (at most 255 characters).
    std::wstring ProfileDirFor(const std::wstring& executablePath) const;
};

using EnvLookup = std::function<std::string(const char* name)>;

// The rule alone: `env` supplies HOME and the XDG variables (unset = empty).
// XDG variables that are not absolute paths count as unset, as the base
// directory specification says.
StateDirs ResolveStateDirs(const std::wstring& executablePath, bool folderWritable, const EnvLookup& env);

// The folders of an executable installed at `executablePath`, probing now
// whether its folder is writable by this process, with this process's environment.
StateDirs StateDirsFor(const std::wstring& executablePath);

// The folders of this process's executable: computed once, then the same for
// the life of the process.
const StateDirs& ProcessStateDirs();

}  // namespace platform
