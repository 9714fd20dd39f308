#include "core/shell/ui_task_dispatcher.h"

#include "uilib/UiLib.h"

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
}

std::uint32_t UITaskDispatcher::PostDelayedTask(Task task, UINT delayMs) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!hwnd_) return 0;
    if (nextTimerId_ == 0) nextTimerId_ = 1;
    std::uint32_t id = nextTimerId_;
    UiLib::SetTimer(hwnd_, id, delayMs);
    oneShot_[id] = std::move(task);
    ++nextTimerId_;
    return id;
}

LRESULT UITaskDispatcher::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Get()->OnMessage(hwnd, message, wParam, lParam);
}

LRESULT UITaskDispatcher::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        auto id = static_cast<std::uint32_t>(wParam);
        Task task;
        {
            std::lock_guard<std::mutex> lock(lock_);
            auto once = oneShot_.find(id);
            if (once != oneShot_.end()) {
                UiLib::KillTimer(hwnd, id);
                task = std::move(once->second);
                oneShot_.erase(once);
            }
        }
        if (task) {
            task();  // always outside the lock: a task may post again
            return 0;
        }
    }
    return UiLib::DefWindowProcW(hwnd, message, wParam, lParam);
}
