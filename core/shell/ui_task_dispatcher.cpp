#include "core/shell/ui_task_dispatcher.h"

#include <cassert>

#include "uilib/UiLib.h"

namespace {
// Posted to the hidden window by a thread other than the UI thread: arm the
// timer of the task whose id is wParam.
constexpr UINT kArmTimerMessage = WM_USER + 1;
}  // namespace

UITaskDispatcher* UITaskDispatcher::Get() {
    static UITaskDispatcher* instance = new UITaskDispatcher();  // lives until the process ends
    return instance;
}

void UITaskDispatcher::EnsureWindow() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (hwnd_ && UiLib::IsWindow(hwnd_)) return;
    }
    UiLib::WNDCLASSW wc;
    wc.lpfnWndProc = &UITaskDispatcher::WindowProc;
    wc.lpszClassName = L"QMWindow";
    UiLib::RegisterClassW(&wc);
    // Created outside the lock: creation already sends messages to the window procedure.
    HWND hwnd = UiLib::CreateWindowExW(0, L"QMWindow", L"", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(lock_);
    hwnd_ = hwnd;
    uiThread_ = std::this_thread::get_id();
}

HWND UITaskDispatcher::window() const {
    std::lock_guard<std::mutex> lock(lock_);
    return hwnd_;
}

std::uint32_t UITaskDispatcher::PostDelayedTask(Task task, UINT delayMs) {
    HWND hwnd;
    std::uint32_t id;
    bool onUiThread;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!hwnd_) return 0;
        if (nextTimerId_ == 0) nextTimerId_ = 1;
        id = nextTimerId_++;
        // Stored before the timer exists, so that its first tick finds the task.
        oneShot_[id] = Pending{std::move(task), Clock::now() + std::chrono::milliseconds(delayMs)};
        hwnd = hwnd_;
        onUiThread = std::this_thread::get_id() == uiThread_;
    }
    if (onUiThread) {
        Arm(hwnd, id);
    } else {
        UiLib::PostMessageW(hwnd, kArmTimerMessage, id, 0);
    }
    return id;
}

void UITaskDispatcher::Arm(HWND hwnd, std::uint32_t id) {
    Clock::time_point due;
    {
        std::lock_guard<std::mutex> lock(lock_);
        assert(std::this_thread::get_id() == uiThread_);
        auto it = oneShot_.find(id);
        if (it == oneShot_.end() || it->second.armed) return;
        it->second.armed = true;
        due = it->second.due;
    }
    // Rounded up: a task never runs before its delay has passed.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    UiLib::SetTimer(hwnd, id, left > 0 ? static_cast<UINT>(left) : 0);
}

bool UITaskDispatcher::RunDue(HWND hwnd, std::uint32_t id) {
    Task task;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = oneShot_.find(id);
        if (it == oneShot_.end()) return false;
        task = std::move(it->second.task);
        oneShot_.erase(it);
    }
    UiLib::KillTimer(hwnd, id);
    if (task) task();  // outside the lock: a task may post again
    return true;
}

LRESULT UITaskDispatcher::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Get()->OnMessage(hwnd, message, wParam, lParam);
}

LRESULT UITaskDispatcher::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && RunDue(hwnd, static_cast<std::uint32_t>(wParam))) return 0;
    if (message == kArmTimerMessage) {
        Arm(hwnd, static_cast<std::uint32_t>(wParam));
        return 0;
    }
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}
