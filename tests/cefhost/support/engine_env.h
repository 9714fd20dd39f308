// The engine for a test program: started once after the private display is
// up, with a recording page-call handler, and shut down at the end.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/cefhost/support/recorders.h"

namespace qmtest {

RecordingJsHandler& JsHandler();
// The web processes of contexts created from now on load the test extension
// module `name` ("echo", "bare", "launcher").
void UseExtension(const std::string& name);
// Waits until every browser has closed and every profile context has ended.
bool WaitEngineIdle();
// The profile directory of this test program.
std::string ProfileDir();

class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace qmtest
