// CQNWebWnd: a skinned window with a browser control. It registers with the
// launcher's web-window registry so that page commands of its browser reach
// its command table, and it can be dragged by a band of the page.
#pragma once

#include <atomic>

#include "common/qn_interfaces.h"
#include "core/shell/caller_manager.h"
#include "core/shell/normal_wnd.h"
#include "core/shell/page_call_budget.h"

class CBrowserCtrl;

namespace QNInterface {
namespace WND {

class CQNWebWnd : public CQNNormalWnd, public IQNWebWnd {
public:
    CQNWebWnd(std::wstring className, std::wstring skinPath, IWebWndManager* registry);

    // IQNWebWnd
    int GetBrowserId() override;
    bool PreDispatch(const QNCEF::CEFRequest&) override { return false; }
    bool RegisterCaller(const std::string& name, const std::string& callbackName, QNCEF::CEFCaller handler) override;
    // Runs the command unless the page has used up its budget (PageCallBudget).
    void Dispatch(const QNCEF::CEFRequest& request) override;
    void SetWndString(const std::wstring& text) override { wndString_ = text; }

    void EnableDrag(const RECT& band);
    CBrowserCtrl* browserCtrl() const { return browserCtrl_.load(); }

protected:
    UiLib::CControlUI* CreateControl(const wchar_t* className) override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    QNCEF::CEFCallerManager callers_;
    PageCallBudget budget_;
    RECT dragRect_;
    // Owned by the control tree; set on the UI thread, read from any thread
    // (GetBrowserId).
    std::atomic<CBrowserCtrl*> browserCtrl_{nullptr};
    bool dragEnabled_ = false;
    IWebWndManager* registry_ = nullptr;
    std::wstring wndString_;
};

}  // namespace WND
}  // namespace QNInterface
