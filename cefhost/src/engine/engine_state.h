// Process-wide state of the engine in the browser process.
#pragma once

#include "engine/command_line.h"
#include "engine/handler_slots.h"  // CurrentApp

namespace kxcef {

// True between a successful engine start and its shutdown.
bool EngineRunning();
// The WebKit meaning of the prepared command line.
EngineSwitches CurrentSwitches();

}  // namespace kxcef
