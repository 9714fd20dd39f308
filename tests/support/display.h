// A private X server (Xvfb) for tests that open windows: started once per test
// program on a free display, DISPLAY pointed at it, stopped at the end.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace qmtest {

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    static const std::string& display();

private:
    int pid_ = -1;
};

// Registers the environment; call from main() before RUN_ALL_TESTS (or use
// the qm_test_display_main library, which does).
void UsePrivateDisplay();

// Starts a tray host (trayer) on the private display; returns its pid or -1.
int StartTrayHost();

}  // namespace qmtest
