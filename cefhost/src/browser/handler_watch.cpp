// Watching host windows: a handler that watches its host window sees every
// message of it first, through a window procedure put in front of the
// window's own. One window is subclassed once however many browsers it hosts,
// and gets its own procedure back when the last of them stops watching.
#include <algorithm>

#include "browser/handler_impl.h"
#include "ui_thread.h"
#include "uilib/win32.h"

namespace {

bool IsInputMessage(UINT message) {
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
    case WM_MOUSELEAVE:
        return true;
    default:
        return false;
    }
}

}  // namespace

void CCEF3Handler::DealOSRInputMsg(HWND hwnd, bool windowLess) {
    if (!kxcef::IsUiThread()) {
        CefRefPtr<CCEF3Handler> self(this);
        kxcef::PostToUi([self, hwnd, windowLess] { self->DealOSRInputMsg(hwnd, windowLess); });
        return;
    }
    HWND mainWindow = GetMainWindowHandle();
    if (hwnd && hwnd == mainWindow) {
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            impl_->windowLess = windowLess;
        }
        auto it = s_HandlerMap.find(mainWindow);
        if (it == s_HandlerMap.end() || it->second.empty()) {
            WNDPROC previous = UiLib::SetWindowProc(mainWindow, &CCEF3Handler::OSRCEFProc);
            if (!previous) return;  // no such window
            s_HandlerMap[mainWindow].push_back(this);
            impl_->prevWndProc = previous;
        } else {
            std::vector<CCEF3Handler*>& list = it->second;
            if (std::find(list.begin(), list.end(), this) != list.end()) return;
            impl_->prevWndProc = list.back()->impl()->prevWndProc;
            list.push_back(this);
        }
        // A watching handler stays alive while the window can still reach it.
        AddRef();
        return;
    }

    auto it = s_HandlerMap.find(mainWindow);
    if (it == s_HandlerMap.end()) return;
    std::vector<CCEF3Handler*>& list = it->second;
    auto self = std::find(list.begin(), list.end(), this);
    if (self == list.end()) return;
    list.erase(self);
    if (list.empty()) {
        if (UiLib::IsWindow(mainWindow) && impl_->prevWndProc) UiLib::SetWindowProc(mainWindow, impl_->prevWndProc);
        s_HandlerMap.erase(it);
    }
    impl_->prevWndProc = nullptr;
    Release();
}

LRESULT CCEF3Handler::OSRCEFProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (s_HandlerMap.empty() || !hwnd) return 0;
    auto it = s_HandlerMap.find(hwnd);
    if (it == s_HandlerMap.end() || it->second.empty()) return 0;
    // Handlers may stop watching while the message is handled.
    std::vector<CefRefPtr<CCEF3Handler>> handlers(it->second.begin(), it->second.end());
    WNDPROC previous = nullptr;
    for (const CefRefPtr<CCEF3Handler>& handler : handlers) {
        Impl* impl = handler->impl();
        previous = impl->prevWndProc;
        bool windowLess = handler->IsWindowLessCEF();
        if (windowLess && IsInputMessage(message)) handler->DealInputMessage(hwnd, message, wParam, lParam);
        CefRefPtr<kxcef::BrowserImpl> browser = impl->Browser();
        bool stop = false;
        switch (message) {
        case WM_MOVE:
        case WM_MOVING:
            if (browser) browser->GetHost()->NotifyMoveOrResizeStarted();
            stop = true;
            break;
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED) {
                bool hidden;
                {
                    std::lock_guard<std::mutex> lock(impl->mutex);
                    hidden = impl->hidden;
                }
                if (!impl->hiddenByMinimize && !hidden) {
                    impl->hiddenByMinimize = true;
                    handler->ShowBrowser(false);
                }
            } else if (impl->hiddenByMinimize) {
                // Only what minimising hid comes back: a browser its owner
                // keeps hidden (until its first page, say) stays hidden.
                impl->hiddenByMinimize = false;
                handler->ShowBrowser(true);
            }
            break;
        case WM_SETFOCUS:
            handler->SetFocus();
            break;
        case WM_CLOSE:
            handler->DealOSRInputMsg(nullptr, windowLess);
            // A browser that is closing, or not there yet, lets the window close.
            if (handler->IsClosing() || !browser) break;
            browser->StopLoad();
            browser->GetHost()->CloseBrowser(false);
            return 0;
        case WM_ERASEBKGND:
            if (browser) return 0;
            break;
        default:
            break;
        }
        if (stop) break;
    }
    LRESULT result = previous ? UiLib::CallWindowProcW(previous, hwnd, message, wParam, lParam) : 0;
    if (message == WM_NCDESTROY) {
        // The window is gone: nothing watches it any more.
        auto gone = s_HandlerMap.find(hwnd);
        if (gone != s_HandlerMap.end()) {
            std::vector<CCEF3Handler*> list = std::move(gone->second);
            s_HandlerMap.erase(gone);
            for (CCEF3Handler* handler : list) {
                handler->impl()->prevWndProc = nullptr;
                handler->Release();
            }
        }
    }
    return result;
}
