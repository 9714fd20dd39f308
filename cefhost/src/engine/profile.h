// The profile directory of this process: "<exe dir>/tmp/<exe name>".
#pragma once

#include <string>

namespace kxcef {

std::wstring ProfileDirectory();
// The directory WebKit loads the web-process extension from:
// $KXCEF2_WEBEXT_DIR, else "<exe dir>/webext".
std::string WebExtensionDirectory();

}  // namespace kxcef
