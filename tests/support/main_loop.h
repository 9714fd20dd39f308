// Running the default GLib main context from a test or benchmark until a
// condition holds, bounded in time.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace qmtest {

// Iterates the default main context until `done` holds or `timeout` passes;
// true when `done` held. A ticking source keeps the blocking iteration from
// sleeping past the deadline.
inline bool PumpMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                              unsigned tickMs = 5) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    guint tick = g_timeout_add(tickMs, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = done();
    while (!ok && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = done();
    }
    g_source_remove(tick);
    return ok;
}

inline void PumpMainLoopFor(std::chrono::milliseconds duration, unsigned tickMs = 5) {
    PumpMainLoopUntil([] { return false; }, duration, tickMs);
}

}  // namespace qmtest
