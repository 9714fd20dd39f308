#include "core/shell/pop_wnd.h"

namespace QNInterface {
namespace WND {

CQNPopWnd::CQNPopWnd(std::wstring className, std::wstring skinPath, HWND mainWindow)
    : CQNNormalWnd(std::move(className), std::move(skinPath)), mainWindow_(mainWindow) {}

void CQNPopWnd::Notify(UiLib::TNotifyUI& msg) {
    if (msg.sType == L"click" && msg.pSender) {
        UiLib::CDuiString name = msg.pSender->GetName();
        if (name == L"open") {
            ShowWindow(false, false);
            UiLib::PostMessageW(mainWindow_, WM_SYSCOMMAND, SC_RESTORE, 0);
        } else if (name == L"close") {
            UiLib::PostMessageW(mainWindow_, WM_CLOSE, 0, 0);
        }
    }
    CQNNormalWnd::Notify(msg);
}

LRESULT CQNPopWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KILLFOCUS) {
        ShowWindow(false, false);
    } else if (message == WM_KEYDOWN && wParam == static_cast<WPARAM>(VK_ESCAPE)) {
        return 0;
    }
    return UiLib::IWindowBase::HandleMessage(message, wParam, lParam);
}

}  // namespace WND
}  // namespace QNInterface
