// main() of test programs without a display of their own: they start away
// from the developer's desktop session (tests/support/session.h).
#include <gtest/gtest.h>

#include "tests/support/session.h"

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
