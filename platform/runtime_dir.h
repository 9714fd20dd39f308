// A runtime folder for a process started outside a login session (no
// $XDG_RUNTIME_DIR): the browser engine keeps its sockets there, and its web
// process does not start without one.
#pragma once

#include <string>

namespace platform {

// A fresh folder of this process's own, "<temp>/<product>-runtime-XXXXXX",
// this user's alone (0700). Empty when none can be made; `why` then says why.
std::string MakePrivateRuntimeDir(std::string* why = nullptr);
// Removes such a folder and what is in it, following no links; false when
// some of it stays.
bool RemovePrivateRuntimeDir(const std::string& path);

}  // namespace platform
