// main() of the browser host's engine tests: a private X display first, then
// the engine.
#include <gtest/gtest.h>

#include "tests/cefhost/support/engine_env.h"
#include "tests/support/display.h"
#include "tests/support/session.h"

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    ::testing::InitGoogleTest(&argc, argv);
    qmtest::UsePrivateDisplay();
    ::testing::AddGlobalTestEnvironment(new qmtest::EngineEnvironment());
    return RUN_ALL_TESTS();
}
