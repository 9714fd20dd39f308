#include "message_queue.h"
#include "uilib/window.h"
#include "window_procs.h"
#include "window_registry.h"
#include "geometry.h"

namespace UiLib {

namespace {
// The object whose window is being created on this thread: bound to the
// window at its first message (WM_CREATE).
thread_local CWindowWnd* t_creating = nullptr;
}  // namespace

CWindowWnd::CWindowWnd() = default;

CWindowWnd::~CWindowWnd() {
    // The object goes before its window: the window lives on without it only
    // long enough to be destroyed.
    detail::DestroyForDepartingObject(hwnd_);
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* name, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                        HMENU menu) {
    const wchar_t* className = GetWindowClassName();
    if (!className || !className[0]) return nullptr;
    if (!detail::ClassProcedure(className)) detail::RegisterClassProcedure(className, &CWindowWnd::WindowProc);
    CWindowWnd* outer = t_creating;
    t_creating = this;
    (void)menu;
    HWND hwnd = detail::CreateWindowImpl(exStyle, className, name, style, x, y, cx, cy, parent, this, true);
    t_creating = outer;
    return hwnd;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    UiLib::ShowWindow(hwnd_, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNA) : SW_HIDE);
}

void CWindowWnd::CenterWindow() {
    RECT rect;
    if (!GetWindowRect(hwnd_, &rect)) return;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    RECT work = detail::OnUiThread([&] { return detail::WorkAreaFor(&rect); });
    RECT area = work;
    HWND owner = GetParent(hwnd_);
    RECT ownerRect;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner) && GetWindowRect(owner, &ownerRect)) area = ownerRect;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    // Keep it on the work area.
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(hwnd_, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::Close(UINT result) { UiLib::PostMessageW(hwnd_, WM_CLOSE, result, 0); }

void CWindowWnd::SetIcon(UINT resourceId) {
    HICON icon = LoadIconW(CPaintManagerUI::GetInstance(), static_cast<int>(resourceId));
    UiLib::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    UiLib::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

BOOL CWindowWnd::PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    return UiLib::PostMessageW(hwnd_, message, wParam, lParam);
}

LRESULT CWindowWnd::SendMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    return UiLib::SendMessageW(hwnd_, message, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void CWindowWnd::OnFinalMessage(HWND hwnd) { (void)hwnd; }

LRESULT CWindowWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    detail::WndObject* window = detail::FindWindowObject(hwnd);
    if (!window) return 0;
    auto* self = static_cast<CWindowWnd*>(window->userData);
    if (!self && t_creating && message == WM_CREATE) {
        self = t_creating;
        t_creating = nullptr;
        self->hwnd_ = hwnd;
        window->userData = self;
    }
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        LRESULT result = self->HandleMessage(message, wParam, lParam);
        detail::UnbindObject(hwnd);
        self->hwnd_ = nullptr;
        self->OnFinalMessage(hwnd);  // may delete the object
        return result;
    }
    return self->HandleMessage(message, wParam, lParam);
}

}  // namespace UiLib
