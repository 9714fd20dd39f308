// Process-wide state of the engine in the browser process.
#pragma once

#include "engine/command_line.h"
#include "engine/app.h"

namespace kxcef {

// True between a successful engine start and its shutdown.
bool EngineRunning();
// The WebKit meaning of the prepared command line.
EngineSwitches CurrentSwitches();
// The current application object (null without a manager instance).
CefRefPtr<CCEF3APP> CurrentApp();

}  // namespace kxcef
