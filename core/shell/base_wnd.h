// IQNBaseWnd: what every window of the core module tells about itself.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace QNInterface {
namespace WND {

class IQNBaseWnd {
public:
    virtual HWND GetHWND() = 0;
    virtual HWND GetHWNDPARENT() = 0;
    virtual std::wstring GetWndClassName() = 0;
    virtual std::wstring GetWndText() = 0;

protected:
    ~IQNBaseWnd() = default;
};

}  // namespace WND
}  // namespace QNInterface
