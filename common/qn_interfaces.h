// Interfaces through which the launcher and the core module meet: page commands
// (CEFRequest), web windows (IQNWebWnd) and the launcher's registry of them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace QNInterface {
namespace WND {
class IQNWebWnd;
}

namespace QNCEF {

// One page command, valid for the duration of one Dispatch.
struct CEFRequest {
    std::string name;  // UTF-8 command name, e.g. "_min_window"
    std::string data;  // UTF-8 argument text ("name=value&name=value")
    WND::IQNWebWnd* window = nullptr;
    // The calling document (CCEF3Manager::CallingDocument; 0 when unknown): a
    // reply sent after the call returned goes there, not to the main document.
    std::uint64_t document = 0;
};

// A command handler: the request and the callback name registered with it.
using CEFCaller = std::function<void(const CEFRequest&, const std::string&)>;

}  // namespace QNCEF

namespace WND {

// A web window as the launcher and command handlers see it.
class IQNWebWnd {
public:
    virtual int GetBrowserId() = 0;  // -1 without a browser
    virtual bool PreDispatch(const QNCEF::CEFRequest& request) = 0;
    virtual bool RegisterCaller(const std::string& name, const std::string& callbackName,
                                QNCEF::CEFCaller handler) = 0;
    virtual void Dispatch(const QNCEF::CEFRequest& request) = 0;
    virtual void SetWndString(const std::wstring& text) = 0;

protected:
    ~IQNWebWnd() = default;
};

// The launcher's registry of web windows.
class IWebWndManager {
public:
    virtual void AddWebWnd(IQNWebWnd* window) = 0;
    virtual void RemoveWebWnd(IQNWebWnd* window) = 0;

protected:
    ~IWebWndManager() = default;
};

}  // namespace WND
}  // namespace QNInterface

// What the launcher hands to the core module at QNInitUI.
class IQNObserverUI {
public:
    virtual QNInterface::WND::IWebWndManager* GetWebWndManager() = 0;

protected:
    ~IQNObserverUI() = default;
};
