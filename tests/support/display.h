// A private X server (Xvfb) for tests that open windows: started once per test
// program on a free display, DISPLAY pointed at it, stopped at the end.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace qmtest {

class XvfbEnvironment : public ::testing::Environment {
public:
    explicit XvfbEnvironment(std::string screen = "1280x1024x24") : screen_(std::move(screen)) {}
    void SetUp() override;
    void TearDown() override;
    static const std::string& display();

private:
    std::string screen_;
    int pid_ = -1;
};

// Registers the environment; call from main() before RUN_ALL_TESTS (or use
// the qm_test_display_main library, which does). `screen` is Xvfb's
// WIDTHxHEIGHTxDEPTH.
void UsePrivateDisplay(const std::string& screen = "1280x1024x24");

// Starts a tray host (trayer) on the private display; returns its pid or -1.
int StartTrayHost();

}  // namespace qmtest
