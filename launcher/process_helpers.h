// Starting the updater and other programs, and reading file versions.
#pragma once

#include <string>

// Starts "qm_update" beside the executable when it exists; never waits for it.
void LaunchUpdater(const std::wstring& exeDir);

// Starts `path` with `parameters` in `workingDirectory` (empty: the caller's).
// The command line is "\"path\" parameters", cut to 1023 characters. When the
// program cannot be spawned, its file is handed to the desktop's opener (as a
// file address), without dialogs; when that fails too, a log line says why.
bool LaunchProcess(const std::wstring& path, const std::wstring& parameters, const std::wstring& workingDirectory);

// "a.b.c.d" file version of a binary, empty when it has none.
std::wstring GetFileVersionString(const std::wstring& path);
