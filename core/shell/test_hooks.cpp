#include "core/shell/test_hooks.h"

#include <string>

#if defined(QM_TEST_HOOKS)
#include "core/services/pool/thread_pool.h"
#endif

namespace qmtesthooks {
namespace {
std::wstring g_crash;
}

#if defined(QM_TEST_HOOKS)
// Kept out of line with a name of its own, so that a dump's backtrace shows it;
// not instrumented, so that sanitizer builds fault for real too.
__attribute__((noinline, noclone, no_sanitize("address", "undefined"))) void QmCoreModuleFault() {
    volatile int* volatile target = nullptr;
    *target = 42;
}
#endif

void Arm(const CCmdLineParser& switches) { g_crash = switches.GetVal(L"qm_test_crash"); }

void OnBusinessesStarted() {
#if defined(QM_TEST_HOOKS)
    if (g_crash.rfind(L"core_worker", 0) == 0) {
        CommonFunc::ThreadPool::Get()->GetPool().schedule([] { QmCoreModuleFault(); });
    } else if (g_crash.rfind(L"core", 0) == 0) {
        QmCoreModuleFault();
    }
#endif
}

}  // namespace qmtesthooks
