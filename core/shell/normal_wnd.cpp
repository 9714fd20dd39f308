#include "core/shell/normal_wnd.h"

#include "platform/paths.h"

namespace QNInterface {
namespace WND {

CQNNormalWnd::CQNNormalWnd(std::wstring className, std::wstring skinPath)
    : className_(std::move(className)), skinPath_(std::move(skinPath)) {}

std::wstring CQNNormalWnd::GetWndText() {
    wchar_t buffer[1024] = {};
    UiLib::GetWindowTextW(GetHWND(), buffer, 1024);
    return buffer;
}

UiLib::CDuiString CQNNormalWnd::GetSkinFolder() {
    std::wstring dir = platform::DirPart(skinPath_);
    return dir.empty() ? UiLib::CDuiString(L"") : UiLib::CDuiString(dir + L"/");
}

UiLib::CDuiString CQNNormalWnd::GetSkinFile() { return platform::FilePart(skinPath_); }

LRESULT CQNNormalWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == static_cast<WPARAM>(VK_ESCAPE)) return 0;
    return UiLib::IWindowBase::HandleMessage(message, wParam, lParam);
}

LRESULT CQNNormalWnd::ResponseDefaultKeyEvent(WPARAM wParam) {
    if (wParam == static_cast<WPARAM>(VK_ESCAPE)) return 0;
    return UiLib::IWindowBase::ResponseDefaultKeyEvent(wParam);
}

}  // namespace WND
}  // namespace QNInterface
