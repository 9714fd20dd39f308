// Running the default GLib main context from a test or benchmark until a
// condition holds, bounded in time: the one pump of the tests. The window
// library's message loop runs on the same context, so its messages, timers
// and posted tasks are handled too.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace qmtest {

// Iterates the default main context until `done` holds or `timeout` passes;
// true when `done` held. A ticking source keeps the blocking iteration from
// sleeping past the deadline. The default bound is generous: on a loaded
// machine a page load or the inspector's first start takes well over 15 s,
// and a wait that holds returns at once.
inline bool PumpMainLoopUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout = std::chrono::seconds(60), unsigned tickMs = 5) {
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

// Iterates the default main context until nothing is left that is ready at
// default priority or above: input put on GDK's queue and what it brought
// about (messages, their replies, due timers) has all been handled. True when
// that happened within `timeout`.
inline bool PumpMainLoopUntilIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    bool idle = false;
    // A low-priority idle runs only in an iteration where nothing more urgent is ready.
    guint source = g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &idle, nullptr);
    bool ok = PumpMainLoopUntil([&idle] { return idle; }, timeout);
    if (!ok) g_source_remove(source);
    return ok;
}

// Iterates the default main context for `duration`; a wait for something that
// should happen belongs in PumpMainLoopUntil.
inline void PumpMainLoopFor(std::chrono::milliseconds duration, unsigned tickMs = 5) {
    PumpMainLoopUntil([] { return false; }, duration, tickMs);
}

}  // namespace qmtest
