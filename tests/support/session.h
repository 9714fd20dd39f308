// Keeping tests out of the developer's desktop session. A desktop runs a
// session bus (where a sound server owns its name and a tray watcher waits for
// icons), a sound server and a display; a test that reached any of them would
// collide with it (a second sound server cannot take the bus name and exits)
// or show its windows and icons on the developer's desktop.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qmtest {

// The variables through which a program finds a session's bus, sound server,
// display, runtime folder and desktop.
const std::vector<std::string>& SessionVariables();

// First thing in a test program's main(), before any thread: forgets the
// session it was started from, so that neither the program nor anything it
// starts finds it. A test then sets what it means (its own display, bus).
void LeaveDesktopSession();

// Environment overrides for a server a test starts (values for
// ChildProcess::Start, where an empty value removes the variable): every
// session variable removed, then `meant` set. Also drops what the test
// program itself set for its own use (its display, its bus).
std::map<std::string, std::string> ServerEnvironment(const std::map<std::string, std::string>& meant = {});

}  // namespace qmtest
