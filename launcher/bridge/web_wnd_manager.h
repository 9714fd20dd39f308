// QNWebWndManager: the launcher's page-call handler and registry of the core
// module's web windows. An asynchronous page call from an allowed origin is
// routed to the registered window whose browser made it; calls from any other
// origin never reach a window.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/log_text.h"
#include "common/qn_interfaces.h"
#include "kxcef/js_callback.h"

namespace QNInterface {
namespace QNCEF {

class QNWebWndManager : public CJSCallbackHandler, public WND::IWebWndManager {
public:
    // CJSCallbackHandler
    bool OnSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) override { return true; }
    // Without the caller's origin: dropped like a call from a page that is not ours.
    bool OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) override;
    bool OnPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) override {
        return true;
    }
    void OnJsCommandResult(int, const std::string&, const std::string&, VARIANT*) override {}
    bool OnAsynJsEventFrom(int browserId, const std::string& name, std::vector<VARIANT>& args,
                           const std::string& origin) override;
    // Replies, events and system launches only for the front-end's documents.
    bool TrustsPageOrigin(const std::string& origin) override { return IsAllowedOrigin(origin); }

    // Pages of this origin ("scheme://host[:port]", as the engine writes it) may
    // call page commands. None is allowed until one is added.
    void AllowOrigin(const std::string& origin);
    bool IsAllowedOrigin(const std::string& origin) const;
    // Page calls dropped for their origin so far.
    size_t RefusedCount() const { return refusals_.count(); }

    // IWebWndManager
    void AddWebWnd(WND::IQNWebWnd* window) override;
    void RemoveWebWnd(WND::IQNWebWnd* window) override;

    size_t WindowCount() const;

private:
    WND::IQNWebWnd* FindWindow(int browserId) const;
    void LogRefused(const std::string& origin, const std::string& request);

    mutable std::mutex lock_;
    std::vector<WND::IQNWebWnd*> windows_;
    std::set<std::string> allowedOrigins_;
    RefusalLogBudget refusals_;
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
