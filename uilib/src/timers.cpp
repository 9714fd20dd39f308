#include "timers.h"

#include <algorithm>

#include "message_queue.h"
#include "runtime.h"
#include "uilib/win32.h"
#include "window_procs.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

constexpr UINT kMinimumElapse = 10;  // as USER_TIMER_MINIMUM

struct TimerTick {
    HWND hwnd;
    UINT_PTR id;
    unsigned source = 0;
};

gboolean OnTick(gpointer data) {
    auto* tick = static_cast<TimerTick*>(data);
    WndObject* window = FindWindowObject(tick->hwnd);
    if (!window) return G_SOURCE_REMOVE;
    auto it = window->timers.find(tick->id);
    if (it == window->timers.end() || it->second != tick->source) return G_SOURCE_REMOVE;
    SetCurrentMessageTime(NowMs());
    DispatchToWindow(tick->hwnd, WM_TIMER, tick->id, 0);
    // The handler may have killed or replaced the timer.
    window = FindWindowObject(tick->hwnd);
    if (!window) return G_SOURCE_REMOVE;
    it = window->timers.find(tick->id);
    return it != window->timers.end() && it->second == tick->source ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTick(gpointer data) { delete static_cast<TimerTick*>(data); }

}  // namespace

void KillAllTimers(HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!window) return;
    for (auto& [id, source] : window->timers) g_source_remove(source);
    window->timers.clear();
}

}  // namespace detail

using namespace detail;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, void* reserved) {
    (void)reserved;
    if (!IsLocalWindow(hwnd)) return 0;
    return OnUiThread([&]() -> UINT_PTR {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return 0;
        auto existing = window->timers.find(id);
        if (existing != window->timers.end()) {
            g_source_remove(existing->second);
            window->timers.erase(existing);
        }
        auto* tick = new TimerTick{hwnd, id, 0};
        unsigned source = g_timeout_add_full(G_PRIORITY_DEFAULT, std::max(elapse, kMinimumElapse), OnTick, tick,
                                             FreeTick);
        tick->source = source;
        window->timers[id] = source;
        return id == 0 ? 1 : id;
    });
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (!IsLocalWindow(hwnd)) return FALSE;
    return OnUiThread([&]() -> BOOL {
        WndObject* window = FindWindowObject(hwnd);
        if (!window) return FALSE;
        auto it = window->timers.find(id);
        if (it == window->timers.end()) return FALSE;
        g_source_remove(it->second);
        window->timers.erase(it);
        return TRUE;
    });
}

}  // namespace UiLib
