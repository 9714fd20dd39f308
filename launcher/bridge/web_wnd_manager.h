// QNWebWndManager: the launcher's page-call handler and registry of the core
// module's web windows. Every asynchronous page call is routed to the
// registered window whose browser made it.
#pragma once

#include <mutex>
#include <vector>

#include "common/qn_interfaces.h"
#include "kxcef/js_callback.h"

namespace QNInterface {
namespace QNCEF {

class QNWebWndManager : public CJSCallbackHandler, public WND::IWebWndManager {
public:
    // CJSCallbackHandler
    bool OnSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) override { return true; }
    bool OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) override;
    bool OnPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) override {
        return true;
    }
    void OnJsCommandResult(int, const std::string&, const std::string&, VARIANT*) override {}

    // IWebWndManager
    void AddWebWnd(WND::IQNWebWnd* window) override;
    void RemoveWebWnd(WND::IQNWebWnd* window) override;

    size_t WindowCount() const;

private:
    WND::IQNWebWnd* FindWindow(int browserId) const;

    mutable std::mutex lock_;
    std::vector<WND::IQNWebWnd*> windows_;
};

}  // namespace QNCEF
}  // namespace QNInterface

namespace QNObserver {

// Hands the launcher's web-window registry to the core module.
class QNObserverUI : public IQNObserverUI {
public:
    void SetWebWndManager(QNInterface::WND::IWebWndManager* manager) { manager_ = manager; }
    QNInterface::WND::IWebWndManager* GetWebWndManager() override { return manager_; }

private:
    QNInterface::WND::IWebWndManager* manager_ = nullptr;
};

}  // namespace QNObserver
