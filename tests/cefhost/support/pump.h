// Running the UI thread's main loop from a browser-host test: the one pump of
// the tests (tests/support/main_loop.h), with a timeout that suits an engine.
#pragma once

#include <chrono>
#include <functional>

#include "tests/support/main_loop.h"

namespace kxtest {

// Runs the main loop until `done` holds or `timeout` passes; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    return qmtest::PumpMainLoopUntil(done, timeout);
}
// Runs the main loop for `duration`.
inline void PumpFor(std::chrono::milliseconds duration) { qmtest::PumpMainLoopFor(duration); }

}  // namespace kxtest
