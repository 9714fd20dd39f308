// main() of the voice rig and interoperability tests: a private network
// namespace first (before any thread exists), so that the rules the
// impairment rigs add to its firewall touch nobody else's traffic.
#include <gtest/gtest.h>

#include "tests/support/network.h"

int main(int argc, char** argv) {
    qmtest::EnterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
