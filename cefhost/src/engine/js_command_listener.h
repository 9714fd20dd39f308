// CCEFJSCommandListener: the browsers that can receive page commands, in
// creation order. Locked, because page commands are sent from any thread
// while browsers come and go on the UI thread. Entries are counted
// references: a listed handler cannot be destroyed under a sender's feet.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "kxcef/cef3_handler.h"
#include "platform/win_types.h"

class CCEFJSCommandListener {
public:
    // False when the handler is already listed.
    bool Add(CCEF3Handler* handler);
    // Removes the first entry equal to `handler`; true when one was removed.
    // `becameEmpty` tells whether this removal emptied the list.
    bool Remove(CCEF3Handler* handler, bool* becameEmpty = nullptr);
    // Takes every handler out (the engine's shutdown).
    void Clear();
    bool Empty() const;
    std::vector<CefRefPtr<CCEF3Handler>> Snapshot() const;
    // The first listed handler for which `match` holds, or null.
    CefRefPtr<CCEF3Handler> FindFirst(const std::function<bool(CCEF3Handler*)>& match) const;

private:
    mutable std::mutex mutex_;
    std::vector<CefRefPtr<CCEF3Handler>> handlers_;
};

namespace kxcef {
// Takes `handler` out of the manager's list (if any) and, when that emptied
// the list while a quit window is set, posts WM_CLOSE to it (once).
void LeaveCommandListener(CCEF3Handler* handler);
// The quit window set by CloseAllBrowser (null when none).
HWND QuitWindow();
}  // namespace kxcef
