#include "tests/cefhost/support/pump.h"

#include "tests/support/main_loop.h"

namespace kxtest {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return qmtest::PumpMainLoopUntil(done, timeout);
}

void PumpFor(std::chrono::milliseconds duration) { qmtest::PumpMainLoopFor(duration); }

}  // namespace kxtest
