// main() of test programs that open windows: away from the developer's
// session, in a private network namespace (before any thread exists), then on
// a private X server.
#include <gtest/gtest.h>

#include "tests/support/display.h"
#include "tests/support/network.h"
#include "tests/support/session.h"

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    if (!qmtest::EnterPrivateNetwork()) qmtest::TakeTurnWithOtherClientTests();
    ::testing::InitGoogleTest(&argc, argv);
    qmtest::UsePrivateDisplay();
    return RUN_ALL_TESTS();
}
