// UITaskDispatcher: runs one-shot delayed tasks on the UI thread through the
// timers of a hidden window, "QMWindow". Any thread may post.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/win_types.h"

class UITaskDispatcher {
public:
    using Task = std::function<void()>;

    static UITaskDispatcher* Get();

    // Creates the hidden window unless it exists; call on the UI thread.
    void EnsureWindow();
    // Runs `task` once on the UI thread after `delayMs`; the timer id, or 0
    // when the hidden window does not exist.
    std::uint32_t PostDelayedTask(Task task, UINT delayMs);
    HWND window() const { return hwnd_; }

private:
    UITaskDispatcher() = default;
    static LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::map<std::uint32_t, Task> oneShot_;
    std::mutex lock_;
    HWND hwnd_ = nullptr;
    std::uint32_t nextTimerId_ = 1;
};
