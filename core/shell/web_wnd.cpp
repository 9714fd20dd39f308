#include "core/shell/web_wnd.h"

#include <cwctype>

#include "common/client_config.h"
#include "common/core_protocol.h"
#include "core/shell/browser_ctrl.h"
#include "platform/text.h"
#include "platform/thread_rule.h"

namespace QNInterface {
namespace WND {

CQNWebWnd::CQNWebWnd(std::wstring className, std::wstring skinPath, IWebWndManager* registry)
    : CQNNormalWnd(std::move(className), std::move(skinPath)),
      budget_(PageCallBudget::ForRate(DeployConfig::Load().pageCallsPerSecond)),
      registry_(registry) {
    if (registry_) registry_->AddWebWnd(this);
}

int CQNWebWnd::GetBrowserId() {
    CBrowserCtrl* control = browserCtrl_.load();
    return control ? control->GetBrowserId() : -1;
}

bool CQNWebWnd::RegisterCaller(const std::string& name, const std::string& callbackName, QNCEF::CEFCaller handler) {
    return callers_.RegisterCaller(name, callbackName, std::move(handler));
}

void CQNWebWnd::Dispatch(const QNCEF::CEFRequest& request) {
    if (!budget_.Take(request.name)) return;
    if (PreDispatch(request)) return;
    callers_.Dispatch(request);
}

void CQNWebWnd::EnableDrag(const RECT& band) {
    dragRect_ = band;
    dragEnabled_ = true;
}

UiLib::CControlUI* CQNWebWnd::CreateControl(const wchar_t* className) {
    QM_ASSERT_UI_THREAD();
    if (!className || !platform::EqualsIgnoreCaseAscii(className, L"BrowserCtrl")) return nullptr;
    auto* control = new CBrowserCtrl();  // the control tree owns it
    browserCtrl_ = control;
    control->SetFirstDragRect(dragRect_);
    return control;
}

LRESULT CQNWebWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN) {
        bool chord = (UiLib::GetAsyncKeyState(VK_CONTROL) & 0x8000) && (UiLib::GetAsyncKeyState(VK_MENU) & 0x8000) &&
                     (UiLib::GetAsyncKeyState(VK_SHIFT) & 0x8000);
        CBrowserCtrl* control = browserCtrl_.load();
        if (chord && lParam != 0 && control) {
            if (wParam == static_cast<WPARAM>(VK_F12)) control->ShowDevTools();
            if (wParam == static_cast<WPARAM>(VK_F5)) control->Reload();
        }
        if (wParam == static_cast<WPARAM>(VK_ESCAPE)) return 0;
    } else if (message == core_protocol::kMoveByOffsetMessage) {
        if (dragEnabled_) {
            RECT rc;
            UiLib::GetWindowRect(GetHWND(), &rc);
            int dx = GET_X_LPARAM(lParam), dy = GET_Y_LPARAM(lParam);
            UiLib::SetWindowPos(GetHWND(), nullptr, rc.left + dx, rc.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        return 0;
    }
    return UiLib::IWindowBase::HandleMessage(message, wParam, lParam);
}

void CQNWebWnd::OnFinalMessage(HWND hwnd) {
    UiLib::IWindowBase::OnFinalMessage(hwnd);
    if (registry_) registry_->RemoveWebWnd(this);
}

}  // namespace WND
}  // namespace QNInterface
