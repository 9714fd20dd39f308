// The UI thread: the GTK main thread, which runs every WebKit call and every
// engine callback. Work from other threads is queued to it.
#pragma once

#include <functional>

#include "platform/thread_rule.h"

namespace kxcef {

// Marks the calling thread as the UI thread (engine start), unless the window
// library claimed it already (then it must be this thread). One record for
// the process: platform/thread_rule.h.
void SetUiThread();
// True on the UI thread, and anywhere before a thread was claimed.
bool IsUiThread();
// Queues `task` to the UI thread's main loop (always queued, never run inline).
void PostToUi(std::function<void()> task);
// Queues `task` to run on the UI thread after `delayMs`.
void PostToUiAfter(unsigned delayMs, std::function<void()> task);
// Queues `task` behind everything else the loop has to do (idle priority).
void PostToUiIdle(std::function<void()> task);
// Runs `task` now when on the UI thread, else queues it.
void RunOnUi(std::function<void()> task);

}  // namespace kxcef

// At the top of a function that runs only on the UI thread (checked in debug builds).
#define KX_ASSERT_UI_THREAD() QM_ASSERT_UI_THREAD()
