// CQNPopWnd: the tray menu ("open" restores the main window, "close" ends the client).
#pragma once

#include "core/shell/normal_wnd.h"

namespace QNInterface {
namespace WND {

class CQNPopWnd : public CQNNormalWnd {
public:
    CQNPopWnd(std::wstring className, std::wstring skinPath, HWND mainWindow);
    void Notify(UiLib::TNotifyUI& msg) override;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    HWND mainWindow_;
};

}  // namespace WND
}  // namespace QNInterface
