// The profile directory of this process: "tmp/<exe name>" in the state folders
// (platform/state_dirs.h), beside the executable when that folder is this
// user's alone.
#pragma once

#include <string>

namespace kxcef {

std::wstring ProfileDirectory();
// Where the engine keeps its web cache for the profile `profileDir`: the
// user's cache folder for this process's profile when it is not beside the
// executable, else the profile itself.
std::wstring CacheDirectoryFor(const std::wstring& profileDir);
// Makes a profile (or cache) folder private when it is one of the client's
// own folders (platform/state_dirs.h); any other is only made when missing.
bool PrepareProfileFolder(const std::wstring& dir, std::string* why);
// The directory WebKit loads the web-process extension from:
// $KXCEF2_WEBEXT_DIR, else "<exe dir>/webext".
std::string WebExtensionDirectory();

}  // namespace kxcef
