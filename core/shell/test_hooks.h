// Test-only behaviour of the core module, compiled in only when the build
// enables test hooks (-DQM_TEST_HOOKS=ON); otherwise these do nothing.
//   *qm_test_crash:core         the core module faults once the businesses start
//   *qm_test_crash:core_worker  a worker-pool thread of the core module faults
#pragma once

#include "common/cmdline_parser.h"

namespace qmtesthooks {

void Arm(const CCmdLineParser& switches);
void OnBusinessesStarted();

}  // namespace qmtesthooks
