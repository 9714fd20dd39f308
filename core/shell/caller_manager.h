// CEFCallerManager: a web window's table of page commands: name → handler and
// the callback name the page hears back under.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "common/qn_interfaces.h"

namespace QNInterface {
namespace QNCEF {

class ICEFCallerManager {
public:
    virtual bool RegisterCaller(const std::string& name, const std::string& callbackName, CEFCaller handler) = 0;

protected:
    ~ICEFCallerManager() = default;
};

class CEFCallerManager : public ICEFCallerManager {
public:
    // False when the name is taken: the first registration stays.
    bool RegisterCaller(const std::string& name, const std::string& callbackName, CEFCaller handler) override;
    // Runs the handler of request.name (case-sensitive) outside the lock;
    // unknown names do nothing. False when nothing ran.
    bool Dispatch(const CEFRequest& request);
    size_t size() const;
    // The callback name registered with `name`; empty for an unknown command.
    std::string CallbackNameOf(const std::string& name) const;

private:
    struct CallerEntry {
        std::string callbackName;
        CEFCaller handler;
    };
    std::map<std::string, CallerEntry> callers_;
    mutable std::mutex lock_;
};

}  // namespace QNCEF
}  // namespace QNInterface
