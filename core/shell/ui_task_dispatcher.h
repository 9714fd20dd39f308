// UITaskDispatcher: runs one-shot delayed tasks on the UI thread through the
// timers of a hidden window, "QMWindow". Any thread may post.
//
// Thread rules: the maps are guarded by one lock, which is never held across a
// call into the window library (its timer calls from another thread wait for
// the UI thread, whose timer handler takes the same lock). A post from another
// thread never waits for the UI thread: the timer is armed there by a message.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

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
    HWND window() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Task task;
        Clock::time_point due;
        bool armed = false;
    };

    UITaskDispatcher() = default;
    static LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // UI thread: starts the window timer of task `id` for the time it still has to wait.
    void Arm(HWND hwnd, std::uint32_t id);
    // UI thread: runs task `id` once; false when there is none.
    bool RunDue(HWND hwnd, std::uint32_t id);

    std::map<std::uint32_t, Pending> oneShot_;
    mutable std::mutex lock_;
    HWND hwnd_ = nullptr;
    std::thread::id uiThread_;
    std::uint32_t nextTimerId_ = 1;
};
