#include "core/shell/browser_ctrl.h"

#include <cstring>

#include "core/shell/drag_hook.h"
#include "core/shell/ui_task_dispatcher.h"
#include "kxcef/cef3_manager.h"
#include "platform/text.h"
#include "platform/thread_rule.h"

CBrowserCtrl::CBrowserCtrl() = default;

CBrowserCtrl::~CBrowserCtrl() {
    RemoveDragHook(hook_);
    if (handler_) handler_->CloseBrowser();
}

void CBrowserCtrl::SetAttribute(const wchar_t* name, const wchar_t* value) {
    const std::wstring n = name ? name : L"";
    const std::wstring v = value ? value : L"";
    // Flags count only as the exact text "true".
    if (n == L"windowless") windowless_ = v == L"true";
    else if (n == L"homepage") homePage_ = v;
    else if (n == L"initimage") initImage_ = v;
    else if (n == L"ingnoredir") ignoreDir_ = v == L"true";
    else UiLib::CControlUI::SetAttribute(name, value);
}

void CBrowserCtrl::SetPos(RECT rc) {
    QM_ASSERT_UI_THREAD();
    if (handler_) {
        handler_->SetCEFSize(rc);
    } else if (GetManager()) {
        CefRefPtr<CCEF3Handler> made = CCEF3Manager::CreateBrowser(
            GetManager()->GetPaintWindow(), rc, platform::WideToUtf8(homePage_.str()), windowless_, ignoreDir_, 0);
        {
            std::lock_guard<std::mutex> lock(handlerLock_);
            handler_ = made;
        }
        if (handler_) {
            if (!initImage_.IsEmpty()) handler_->ShowBrowser(false);
            handler_->SetBrowserEventCallBack(CCEF3BrowserDelegate<CBrowserCtrl>(this, &CBrowserCtrl::OnBrowserEvent));
            handler_->SetBrowserEventDetailCallBack(
                CCEF3BrowserDelegate<CBrowserCtrl>(this, &CBrowserCtrl::OnEventDetail));
        }
    }
    UiLib::CControlUI::SetPos(rc);
}

void CBrowserCtrl::DoPaint(HDC hdc, const RECT& rcPaint) {
    QM_ASSERT_UI_THREAD();
    const RECT& pos = GetPos();
    if (rcPaint.right <= pos.left || rcPaint.left >= pos.right || rcPaint.bottom <= pos.top || rcPaint.top >= pos.bottom)
        return;
    UiLib::CControlUI::DoPaint(hdc, rcPaint);
    if (!windowless_ || !handler_) return;
    if (OSRBitmap* bitmap = handler_->LockOSRBitmap()) {
        if (bitmap->pixels)
            UiLib::CRenderEngine::DrawImage(hdc, bitmap->pixels, bitmap->width, bitmap->height, bitmap->stride, pos);
    }
    handler_->UnLockOSRBitmap();
}

CefRefPtr<CCEF3Handler> CBrowserCtrl::handler() const {
    std::lock_guard<std::mutex> lock(handlerLock_);
    return handler_;
}

int CBrowserCtrl::GetBrowserId() {
    CefRefPtr<CCEF3Handler> h = handler();
    if (!h || !h->GetBrowser()) return -1;
    return h->GetBrowserId();
}

void CBrowserCtrl::Reload() {
    QM_ASSERT_UI_THREAD();
    // While the offline page stands in, a reload is a try of the page it stands for.
    if (offline()) recovery_->RetryNow();
    else if (handler_) handler_->Reload();
}

void CBrowserCtrl::ShowDevTools() {
    QM_ASSERT_UI_THREAD();
    if (handler_) handler_->ShowDevTools();
}

bool CBrowserCtrl::OnBrowserEvent(int eventCode, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, int) {
    if (eventCode == CEF3_EVENT_LOAD_START && hookPending_) {
        InstallDragHook();
    } else if (eventCode == CEF3_EVENT_LOAD_END) {
        if (recovery_) recovery_->OnLoadEnd();
        if (!shown_ && handler_) {
            handler_->ShowBrowser(true);
            if (browser) browser->GetHost()->SendFocusEvent(true);
            shown_ = true;
            Invalidate();
        }
    }
    return true;
}

bool CBrowserCtrl::OnEventDetail(CEF3EventDetail detail) {
    if (detail.eventCode == CEF3_EVENT_LOAD_ERROR) Recovery().OnLoadFailed(detail.text1, detail.value, detail.text2);
    return true;
}

OfflineRecovery& CBrowserCtrl::Recovery() {
    if (!recovery_) {
        OfflineRecovery::Host host;
        host.showPage = [this](const std::wstring& html, const std::wstring& address) {
            CefRefPtr<CefBrowser> browser = handler_ ? handler_->GetBrowser() : nullptr;
            if (browser) browser->GetMainFrame()->LoadString(html, address);
        };
        host.load = [this](const std::wstring& address) {
            CefRefPtr<CefBrowser> browser = handler_ ? handler_->GetBrowser() : nullptr;
            if (browser) browser->GetMainFrame()->LoadURL(address);
        };
        host.schedule = [](std::function<void()> task, unsigned delayMs) {
            UITaskDispatcher::Get()->PostDelayedTask(std::move(task), delayMs);
        };
        if (GetManager()) {
            wchar_t title[256] = {};
            UiLib::GetWindowTextW(GetManager()->GetPaintWindow(), title, 256);
            host.brand = title;
        }
        recovery_ = std::make_unique<OfflineRecovery>(std::move(host));
    }
    return *recovery_;
}

void CBrowserCtrl::InstallDragHook() {
    CefRefPtr<CefBrowser> browser = handler_ ? handler_->GetBrowser() : nullptr;
    if (!browser || !GetManager()) return;
    HWND browserWnd = browser->GetHost()->GetWindowHandle();
    hookPending_ = false;
    DragHookRecord record;
    record.dragRects = dragRects_;
    if (windowless_) {
        // A windowless browser is drawn in this window: the drag areas move
        // with the control's place in it.
        browserWnd = GetManager()->GetPaintWindow();
        const RECT& pos = GetPos();
        for (RECT& rc : record.dragRects) {
            if (IsRectEmpty(rc)) continue;
            rc.left += pos.left;
            rc.right += pos.left;
            rc.top += pos.top;
            rc.bottom += pos.top;
        }
    }
    if (!browserWnd) return;
    // A link or file dropped on the page must not take the front-end's place.
    UiLib::RevokeDragDrop(browserWnd);
    record.browserWnd = browserWnd;
    record.moveTarget = GetManager()->GetPaintWindow();
    hook_ = ::InstallDragHook(record);
}
