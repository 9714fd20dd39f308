// Running the UI thread's main loop from a browser-host test: the one pump of
// the tests (tests/support/main_loop.h), with a timeout that suits an engine.
#pragma once

#include <chrono>
#include <functional>

#include "tests/support/main_loop.h"

namespace kxtest {

// Runs the main loop until `done` holds or `timeout` passes; returns `done()`.
// The bound is generous: on a loaded machine a page load or the inspector's
// first start takes well over 15 s, and a wait that holds returns at once.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return qmtest::PumpMainLoopUntil(done, timeout);
}
// Runs the main loop for `duration`.
inline void PumpFor(std::chrono::milliseconds duration) { qmtest::PumpMainLoopFor(duration); }

}  // namespace kxtest
