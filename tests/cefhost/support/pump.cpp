#include "tests/cefhost/support/pump.h"

#include <glib.h>

namespace kxtest {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // A ticking source keeps the blocking iteration from sleeping past the deadline.
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = done();
    while (!ok && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = done();
    }
    g_source_remove(tick);
    return ok;
}

void PumpFor(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

}  // namespace kxtest
