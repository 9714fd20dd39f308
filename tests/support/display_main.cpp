// main() of test programs that open windows: a private X server first.
#include <gtest/gtest.h>

#include "tests/support/display.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qmtest::UsePrivateDisplay();
    return RUN_ALL_TESTS();
}
