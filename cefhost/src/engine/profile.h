// The profile directory of this process: "tmp/<exe name>" in the state folders
// (platform/state_dirs.h), beside the executable when its folder is writable.
#pragma once

#include <string>

namespace kxcef {

std::wstring ProfileDirectory();
// The directory WebKit loads the web-process extension from:
// $KXCEF2_WEBEXT_DIR, else "<exe dir>/webext".
std::string WebExtensionDirectory();

}  // namespace kxcef
