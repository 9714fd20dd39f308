// Running the UI thread's main loop from a test, always bounded in time.
#pragma once

#include <chrono>
#include <functional>

namespace kxtest {

// Runs the main loop until `done` holds or `timeout` passes; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(15));
// Runs the main loop for `duration`.
void PumpFor(std::chrono::milliseconds duration);

}  // namespace kxtest
