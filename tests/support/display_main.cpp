// main() of test programs that open windows: a private network namespace
// (before any thread exists), then a private X server.
#include <gtest/gtest.h>

#include "tests/support/display.h"
#include "tests/support/network.h"

int main(int argc, char** argv) {
    if (!qmtest::EnterPrivateNetwork()) qmtest::TakeTurnWithOtherClientTests();
    ::testing::InitGoogleTest(&argc, argv);
    qmtest::UsePrivateDisplay();
    return RUN_ALL_TESTS();
}
