#include "core/shell/caller_manager.h"

namespace QNInterface {
namespace QNCEF {

bool CEFCallerManager::RegisterCaller(const std::string& name, const std::string& callbackName, CEFCaller handler) {
    std::lock_guard<std::mutex> lock(lock_);
    return callers_.emplace(name, CallerEntry{callbackName, std::move(handler)}).second;
}

bool CEFCallerManager::Dispatch(const CEFRequest& request) {
    CallerEntry entry;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = callers_.find(request.name);
        if (it == callers_.end()) return false;
        entry = it->second;
    }
    if (!entry.handler) return false;
    entry.handler(request, entry.callbackName);  // a handler may itself register or dispatch
    return true;
}

std::string CEFCallerManager::CallbackNameOf(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = callers_.find(name);
    return it == callers_.end() ? std::string() : it->second.callbackName;
}

size_t CEFCallerManager::size() const {
    std::lock_guard<std::mutex> lock(lock_);
    return callers_.size();
}

}  // namespace QNCEF
}  // namespace QNInterface
