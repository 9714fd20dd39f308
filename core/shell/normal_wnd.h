// CQNNormalWnd: a skinned window of the core module with its class name and
// skin file; Esc does nothing.
#pragma once

#include <string>

#include "core/shell/base_wnd.h"
#include "uilib/UiLib.h"

namespace QNInterface {
namespace WND {

class CQNNormalWnd : public UiLib::IWindowBase, public IQNBaseWnd {
public:
    CQNNormalWnd(std::wstring className, std::wstring skinPath);

    // IQNBaseWnd
    HWND GetHWND() override { return UiLib::CWindowWnd::GetHWND(); }
    HWND GetHWNDPARENT() override { return UiLib::GetParent(GetHWND()); }
    std::wstring GetWndClassName() override { return className_; }
    std::wstring GetWndText() override;

    const std::wstring& skinPath() const { return skinPath_; }

protected:
    const wchar_t* GetWindowClassName() const override { return className_.c_str(); }
    UiLib::CDuiString GetSkinFolder() override;
    UiLib::CDuiString GetSkinFile() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT ResponseDefaultKeyEvent(WPARAM wParam) override;

private:
    std::wstring className_;
    std::wstring skinPath_;
};

}  // namespace WND
}  // namespace QNInterface
