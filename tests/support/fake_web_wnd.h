// The web window of every test: a browser id, a command table of its own
// (commands kept in the order they were registered, each request dispatched to
// its handler) and a record of every request that reached it. Any thread may
// register and dispatch.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/qn_interfaces.h"

namespace qmtest {

class FakeWebWnd : public QNInterface::WND::IQNWebWnd {
public:
    using Request = QNInterface::QNCEF::CEFRequest;
    using Caller = QNInterface::QNCEF::CEFCaller;
    using NamePair = std::pair<std::string, std::string>;

    explicit FakeWebWnd(int browserId = -1) : browserId_(browserId) {}

    int GetBrowserId() override { return browserId_; }
    bool PreDispatch(const Request&) override { return false; }
    // A name registers once; a second registration of it is refused.
    bool RegisterCaller(const std::string& name, const std::string& callbackName, Caller handler) override {
        std::lock_guard<std::mutex> lock(lock_);
        if (Find(name) != callers_.end()) return false;
        callers_.push_back({name, callbackName, std::move(handler)});
        return true;
    }
    void Dispatch(const Request& request) override {
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(lock_);
            dispatched_.emplace_back(request.name, request.data);
            auto it = Find(request.name);
            if (it == callers_.end()) return;
            entry = *it;
        }
        if (entry.handler) entry.handler(request, entry.callbackName);
    }
    void SetWndString(const std::wstring&) override {}

    // Dispatches `name` with `data` from this window.
    void Send(const std::string& name, const std::string& data) {
        Request request;
        request.name = name;
        request.data = data;
        request.window = this;
        Dispatch(request);
    }
    // (name, callback name) of every registered command, in registration order.
    std::vector<NamePair> Registered() const {
        std::lock_guard<std::mutex> lock(lock_);
        std::vector<NamePair> out;
        for (const Entry& e : callers_) out.emplace_back(e.name, e.callbackName);
        return out;
    }
    // The callback name registered with `name`, "<none>" when it is not registered.
    std::string CallbackNameOf(const std::string& name) const {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = Find(name);
        return it == callers_.end() ? std::string("<none>") : it->callbackName;
    }
    // (name, data) of every request dispatched to this window, in order.
    std::vector<NamePair> Dispatched() const {
        std::lock_guard<std::mutex> lock(lock_);
        return dispatched_;
    }
    void ClearDispatched() {
        std::lock_guard<std::mutex> lock(lock_);
        dispatched_.clear();
    }
    // The names of the dispatched requests, in order.
    std::vector<std::string> DispatchedNames() const {
        std::vector<std::string> out;
        for (const NamePair& r : Dispatched()) out.push_back(r.first);
        return out;
    }

private:
    struct Entry {
        std::string name;
        std::string callbackName;
        Caller handler;
    };
    std::vector<Entry>::const_iterator Find(const std::string& name) const {
        return std::find_if(callers_.begin(), callers_.end(), [&](const Entry& e) { return e.name == name; });
    }

    int browserId_;
    mutable std::mutex lock_;
    std::vector<Entry> callers_;
    std::vector<NamePair> dispatched_;
};

}  // namespace qmtest
