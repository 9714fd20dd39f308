#include "engine/js_command_listener.h"

bool CCEFJSCommandListener::Add(CCEF3Handler* handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& h : handlers_)
        if (h.get() == handler) return false;
    handlers_.emplace_back(handler);
    return true;
}

bool CCEFJSCommandListener::Remove(CCEF3Handler* handler, bool* becameEmpty) {
    CefRefPtr<CCEF3Handler> removed;  // released after the lock
    bool emptied = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
            if (it->get() == handler) {
                removed = *it;
                handlers_.erase(it);
                emptied = handlers_.empty();
                break;
            }
        }
    }
    if (becameEmpty) *becameEmpty = emptied;
    return removed != nullptr;
}

void CCEFJSCommandListener::Clear() {
    std::vector<CefRefPtr<CCEF3Handler>> removed;  // released after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    removed.swap(handlers_);
}

bool CCEFJSCommandListener::Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handlers_.empty();
}

std::vector<CefRefPtr<CCEF3Handler>> CCEFJSCommandListener::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handlers_;
}

CefRefPtr<CCEF3Handler> CCEFJSCommandListener::FindFirst(const std::function<bool(CCEF3Handler*)>& match) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& h : handlers_)
        if (match(h.get())) return h;
    return nullptr;
}
