// The state behind a CCEF3Handler.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "browser/browser.h"
#include "kxcef/cef3_handler.h"
#include "osr/osr_handler.h"

namespace kxcef {

// An ordered list of owned browser-delegate copies; an equal delegate is
// added once. Fan-out runs on a snapshot, so a delegate may add delegates.
class BrowserDelegateList {
public:
    void Add(const CCEF3BrowserDelegateBase& delegate);
    bool empty() const;
    // Calls `fn` on each delegate in order until one returns false.
    template <class F>
    void FanOut(F&& fn) const {
        for (CCEF3BrowserDelegateBase* d : Snapshot())
            if (!fn(d)) break;
    }

private:
    std::vector<CCEF3BrowserDelegateBase*> Snapshot() const;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<CCEF3BrowserDelegateBase>> items_;
};

}  // namespace kxcef

struct CCEF3Handler::Impl {
    // Guards the fields read from other threads: browser, id, flags, geometry.
    mutable std::mutex mutex;
    CefRefPtr<kxcef::BrowserImpl> browser;
    int browserId = 0;
    HWND mainWindow = nullptr;
    RECT boundary;
    bool hidden = false;
    bool closing = false;
    bool windowLess = false;

    kxcef::BrowserDelegateList browserEvent;
    kxcef::BrowserDelegateList eventDetail;
    kxcef::BrowserDelegateList loadState;
    kxcef::BrowserDelegateList display;
    kxcef::BrowserDelegateList newLink;
    kxcef::BrowserDelegateList download;

    std::mutex asyncMutex;
    CCEF3JSDelegateList asyncTask;

    // Off-screen rendering of a windowless browser; created once, then kept.
    CefRefPtr<kxcef::CCEF3OSRHandler> osr;
    // The host window's procedure before this handler watched it (UI thread).
    WNDPROC prevWndProc = nullptr;
    // The browser was hidden because its host window was minimised.
    bool hiddenByMinimize = false;

    CefRefPtr<kxcef::CCEF3OSRHandler> Osr() const {
        std::lock_guard<std::mutex> l(mutex);
        return osr;
    }

    CefRefPtr<kxcef::BrowserImpl> Browser() const {
        std::lock_guard<std::mutex> l(mutex);
        return browser;
    }
};
