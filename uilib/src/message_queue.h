// The UI thread's message queue: posted messages in FIFO order, messages sent
// from other threads and marshalled calls, all delivered on the UI thread by a
// GLib source of the default main context.
#pragma once

#include <functional>
#include <type_traits>

#include "platform/win_types.h"
#include "runtime.h"

namespace UiLib {
namespace detail {

// Attaches the queue's source to the default main context (idempotent).
void EnsureMessageSource();

// Queues a message for a local window (or WM_QUIT); any thread.
bool QueuePost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Sends from a thread other than the UI thread and waits for the result.
LRESULT QueueSendAndWait(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Runs `task` on the UI thread; the Sync form waits for it.
void RunOnUiAsync(std::function<void()> task);
void RunOnUiSync(const std::function<void()>& task);

// Runs the loop until WM_QUIT; nested loops each end on their own WM_QUIT.
void RunMessageLoop();
// Time of the message being handled (ms, monotonic).
LONG CurrentMessageTime();
void SetCurrentMessageTime(std::int64_t ms);

// Runs `f` on the UI thread and returns its result: directly when called there
// (or before any UI thread exists), otherwise marshalled and waited for.
template <typename F>
auto OnUiThread(F&& f) -> decltype(f()) {
    using R = decltype(f());
    if (IsUiThread() || !HasUiThread()) return f();
    if constexpr (std::is_void_v<R>) {
        RunOnUiSync([&] { f(); });
    } else {
        R result{};
        RunOnUiSync([&] { result = f(); });
        return result;
    }
}

}  // namespace detail
}  // namespace UiLib
