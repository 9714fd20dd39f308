#include <algorithm>

#include "platform/paths.h"
#include "runtime.h"
#include "skin_builder.h"
#include "uilib/window.h"
#include "window_registry.h"

namespace UiLib {

namespace {

std::wstring Slashes(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'\\') c = L'/';
    }
    return path;
}

bool Absolute(const std::wstring& path) { return !path.empty() && path[0] == L'/'; }

}  // namespace

IWindowBase::IWindowBase() = default;

IWindowBase::~IWindowBase() {
    // Destroy the window while the paint manager and the controls still exist.
    detail::DestroyForDepartingObject(hwnd_);
}

void IWindowBase::Notify(TNotifyUI& msg) { (void)msg; }

LRESULT IWindowBase::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    (void)lParam;
    handled = false;
    if (message == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN)) {
        LRESULT result = ResponseDefaultKeyEvent(wParam);
        handled = result != 0;
        return result;
    }
    return 0;
}

LRESULT IWindowBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        std::wstring folder = Slashes(GetSkinFolder().str());
        std::wstring file = Slashes(GetSkinFile().str());
        std::wstring path;
        if (Absolute(file)) path = file;
        else if (Absolute(folder)) path = platform::JoinPath(folder, file);
        else path = platform::JoinPath(platform::JoinPath(Slashes(CPaintManagerUI::GetInstancePath().str()), folder), file);

        paintManager_.Init(hwnd_);
        detail::SkinWindowInfo info;
        std::string error;
        std::unique_ptr<CControlUI> root = detail::LoadSkin(path, this, &info, &error);
        skinLoaded_ = root != nullptr;
        if (root) {
            paintManager_.AttachDialog(root.release());
            if (info.hasSize) paintManager_.SetInitSize(info.cx, info.cy);
            if (info.hasCaption) paintManager_.SetCaptionRect(info.caption);
            if (info.hasSizeBox) paintManager_.SetSizeBox(info.sizeBox);
            if (info.hasMinInfo) paintManager_.SetMinInfo(info.minCx, info.minCy);
            if (info.hasBkColor) paintManager_.SetBkColor(info.bkColor);
        } else {
            detail::Log("skin " + detail::ToUtf8(path) + " not loaded: " + error);
        }
        paintManager_.AddNotifier(this);
        paintManager_.AddMessageFilter(this);
        // A window never opens larger than the work area of its monitor, nor
        // may the user make it smaller than the skin's smallest size (unless
        // the work area is smaller still).
        RECT client, frame, work;
        bool fits = GetWindowRect(hwnd_, &frame) && GetWorkAreaOf(frame, &work);
        int workCx = fits ? work.right - work.left : 0;
        int workCy = fits ? work.bottom - work.top : 0;
        if (info.hasSize && GetClientRect(hwnd_, &client) && IsRectEmpty(client)) {
            int cx = workCx > 0 ? std::min(info.cx, workCx) : info.cx;
            int cy = workCy > 0 ? std::min(info.cy, workCy) : info.cy;
            SetWindowPos(hwnd_, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (info.hasMinInfo) {
            int cx = workCx > 0 ? std::min(info.minCx, workCx) : info.minCx;
            int cy = workCy > 0 ? std::min(info.minCy, workCy) : info.minCy;
            SetMinTrackSize(hwnd_, cx, cy);
        }
        Init();
        // The first layout comes after Init(), which may still configure controls.
        if (hwnd_) paintManager_.SetLayoutReady(true);
        return 0;
    }
    BOOL handled = FALSE;
    LRESULT result = HandleCustomMessage(message, wParam, lParam, handled);
    if (handled) return result;
    if (paintManager_.MessageHandler(message, wParam, lParam, result)) return result;
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

LRESULT IWindowBase::HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    (void)message;
    (void)wParam;
    (void)lParam;
    handled = FALSE;
    return 0;
}

LRESULT IWindowBase::ResponseDefaultKeyEvent(WPARAM wParam) {
    if (wParam == VK_ESCAPE) {
        Close(0);
        return TRUE;
    }
    return FALSE;
}

void IWindowBase::OnFinalMessage(HWND hwnd) {
    (void)hwnd;
    paintManager_.RemoveNotifier(this);
    paintManager_.RemoveMessageFilter(this);
    paintManager_.SetLayoutReady(false);
}

}  // namespace UiLib
