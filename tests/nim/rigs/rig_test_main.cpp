// main() of the voice rig and interoperability tests: away from the
// developer's desktop session, then a private network namespace (both before
// any thread exists), so that the rules the impairment rigs add to its
// firewall touch nobody else's traffic.
#include <gtest/gtest.h>

#include "tests/support/network.h"
#include "tests/support/session.h"

int main(int argc, char** argv) {
    qmtest::LeaveDesktopSession();
    qmtest::EnterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
